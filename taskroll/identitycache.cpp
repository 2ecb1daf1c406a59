#include "readerworker.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The drive type of the volume that holds the file whose final path is
// `path` (as GetFinalPathNameByHandleW gives it), and whether that path names
// a server. A volume mounted in a folder of another is asked by its own root.
// The files of one folder lie on one volume, so the answer is kept by the
// folder: a list of a folder's files asks once.
unsigned DriveTypeOf(const std::wstring& path, bool* networkPath)
{
    constexpr std::size_t FOLDERS_KEPT = 64;
    static std::vector<std::pair<std::wstring, unsigned>> folders;
    *networkPath = path.compare(0, 8, L"\\\\?\\UNC\\") == 0;
    const std::wstring folder = path.substr(0, path.rfind(L'\\'));
    for (const auto& known : folders) {
        if (known.first == folder)
            return known.second;
    }
    std::wstring root(path.size() + 2, L'\0');
    if (!GetVolumePathNameW(path.c_str(), &root[0], static_cast<DWORD>(root.size())))
        return FILE_DRIVE_UNKNOWN;
    const unsigned type = GetDriveTypeW(root.c_str());
    if (folders.size() >= FOLDERS_KEPT)
        folders.erase(folders.begin());
    folders.emplace_back(folder, type);
    return type;
}

// The file's 128-bit id and its volume's 64-bit serial, or, where the file
// system gives none, the older 64-bit index and 32-bit serial.
bool AskIdentity(HANDLE file, FileIdentityFacts* facts)
{
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        facts->id128Known = true;
        facts->volume64 = id.VolumeSerialNumber;
        static_assert(sizeof id.FileId.Identifier == sizeof facts->id128, "a 128-bit id");
        std::memcpy(facts->id128, id.FileId.Identifier, sizeof facts->id128);
        facts->indexKnown = true;  // with a 128-bit id, only the size and time of the index's facts count
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    facts->indexKnown = true;
    facts->volume32 = info.dwVolumeSerialNumber;
    facts->index64 = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

}  // namespace

std::wstring RawFinalPathOf(HANDLE file)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.assign(length + 1, L'\0');
        length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    path.resize(length < path.size() ? length : 0);
    return path;
}

FileSketch SketchOf(HANDLE file)
{
    static_assert(FILE_DRIVE_FIXED == DRIVE_FIXED && FILE_DRIVE_REMOTE == DRIVE_REMOTE &&
                      FILE_DRIVE_REMOVABLE == DRIVE_REMOVABLE && FILE_DRIVE_RAMDISK == DRIVE_RAMDISK,
                  "the core's drive types are the system's");
    FileSketch sketch;
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
        GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
        sketch.directory = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || standard.Directory;
        sketch.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
        sketch.lastWrite = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
    } else {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file, &info))
            return sketch;
        const auto wide = [](DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; };
        sketch.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        sketch.size = wide(info.nFileSizeHigh, info.nFileSizeLow);
        sketch.lastWrite = wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    }
    if (sketch.directory)
        return sketch;
    sketch.finalPath = RawFinalPathOf(file);
    sketch.driveType = sketch.finalPath.empty() ? FILE_DRIVE_UNKNOWN : DriveTypeOf(sketch.finalPath, &sketch.networkPath);
    sketch.trusted = IsTrustedVolume(sketch.driveType, sketch.networkPath);
    return sketch;
}

FileFacts FactsOf(HANDLE file, const FileSketch& sketch)
{
    FileIdentityFacts facts;
    if (!sketch.trusted || !AskIdentity(file, &facts))
        return FileFacts();
    facts.size = sketch.size;
    facts.lastWrite = sketch.lastWrite;
    facts.driveType = sketch.driveType;
    facts.networkPath = sketch.networkPath;
    return IdentifyFile(facts);
}

namespace {

bool SameTimes(const FileSketch& sketch, std::uint64_t size, std::uint64_t lastWrite)
{
    return sketch.size == size && sketch.lastWrite == lastWrite;
}

}  // namespace

const DescribeAnswer* DescribedFiles::FindPath(const std::string& key) const
{
    auto at = std::lower_bound(paths_.begin(), paths_.end(), key,
                               [](const std::pair<std::string, std::size_t>& entry, const std::string& wanted) {
                                   return entry.first < wanted;
                               });
    return at != paths_.end() && at->first == key ? &kept_[at->second].answer : nullptr;
}

bool DescribedFiles::MayHold(const FileSketch& sketch) const
{
    if (!sketch.trusted)
        return false;
    for (const Kept& kept : kept_) {
        if (SameTimes(kept.sketch, sketch.size, sketch.lastWrite))
            return true;
    }
    for (const FileSketch& failed : failedTimes_) {
        if (SameTimes(failed, sketch.size, sketch.lastWrite))
            return true;
    }
    return false;
}

const DescribeAnswer* DescribedFiles::FindFile(const FileFacts& facts, const std::string& key)
{
    if (!IsKnowable(facts))
        return nullptr;
    // The kept files that may be this one have their ids asked now, on the
    // handles that hold them: the same ids they had when they were described.
    for (std::size_t i = 0; i < kept_.size(); ++i) {
        Kept& kept = kept_[i];
        if (kept.asked || !SameTimes(kept.sketch, facts.size, facts.lastWrite))
            continue;
        kept.asked = true;
        kept.facts = FactsOf(kept.held.Get(), kept.sketch);
        try {
            files_.Add(kept.facts, i);
        } catch (...) {
            // Out of memory: that file is merely read again if it comes again.
        }
    }
    const std::size_t* index = files_.Find(facts);
    if (index == nullptr)
        return nullptr;
    AddPath(key, *index);
    return &kept_[*index].answer;
}

void DescribedFiles::Keep(const FileSketch& sketch, const FileFacts& facts, const std::string& key,
                          const DescribeAnswer& answer, handles::FileHandle held)
{
    // A file costs its entry and its texts; past the budget it is not kept.
    constexpr std::size_t FILES_MAX = 4096;
    constexpr std::size_t FILE_BUDGET_BYTES = 1024 * 1024;
    std::size_t cost = sizeof(Kept);
    for (const DescribedStrings& strings : answer.strings) {
        for (const std::string& text : strings.texts)
            cost += sizeof(std::string) + text.size();
    }
    if (!sketch.trusted || !held || kept_.size() >= FILES_MAX || cost > FILE_BUDGET_BYTES - keptBytes_)
        return;
    try {
        Kept kept;
        kept.sketch = sketch;
        std::wstring().swap(kept.sketch.finalPath);  // not needed to find the file again
        kept.asked = IsKnowable(facts);
        kept.facts = facts;
        kept.answer = answer;
        kept.held = std::move(held);
        kept_.push_back(std::move(kept));
        keptBytes_ += cost;
        if (kept_.back().asked && !files_.Add(facts, kept_.size() - 1))
            kept_.back().asked = false;  // asked again should a file of its size and time come
    } catch (...) {
        return;  // out of memory: the file is merely read again if it comes again
    }
    AddPath(key, kept_.size() - 1);
}

void DescribedFiles::AddPath(const std::string& key, std::size_t index)
{
    // A spelling costs its bytes and its entry; past the budget, a spelling
    // is merely looked up by its file again.
    constexpr std::size_t PATH_BUDGET_BYTES = 1024 * 1024;
    try {
        auto at = std::lower_bound(paths_.begin(), paths_.end(), key,
                                   [](const std::pair<std::string, std::size_t>& entry, const std::string& wanted) {
                                       return entry.first < wanted;
                                   });
        const std::size_t cost = sizeof(paths_[0]) + key.size();
        if ((at != paths_.end() && at->first == key) || pathBytes_ + cost > PATH_BUDGET_BYTES)
            return;
        paths_.insert(at, std::make_pair(key, index));
        pathBytes_ += cost;
    } catch (...) {
        // Out of memory: the file is merely read again if it comes again.
    }
}

void DescribedFiles::AddFailed(const FileFacts& facts)
{
    try {
        if (!failed_.Add(facts, true))
            return;
        FileSketch times;
        times.size = facts.size;
        times.lastWrite = facts.lastWrite;
        failedTimes_.push_back(times);
    } catch (...) {
        // Out of memory: the file may be tried again, within the run's budget.
    }
}
