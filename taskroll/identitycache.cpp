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

// The facts that the cheaper queries give (the system need not ask the
// volume for its 32-bit serial): false where the file system does not give
// a 128-bit id, or does not answer them.
bool QuickFacts(HANDLE file, FileIdentityFacts* facts, bool* directory)
{
    FILE_ID_INFO id;
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return false;
    *directory = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || standard.Directory;
    facts->id128Known = true;
    facts->volume64 = id.VolumeSerialNumber;
    static_assert(sizeof id.FileId.Identifier == sizeof facts->id128, "a 128-bit id");
    std::memcpy(facts->id128, id.FileId.Identifier, sizeof facts->id128);
    facts->indexKnown = true;  // with a 128-bit id, only the size and time of the index's facts count
    facts->size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    facts->lastWrite = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
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

// What the open handle tells of its file, as IdentifyFile takes it: no
// identity where it tells nothing, or the file lies on a volume whose ids a
// run does not trust (see knownfiles.h).
FileFacts FactsOf(HANDLE file, bool* directory, std::wstring* finalPath)
{
    static_assert(FILE_DRIVE_FIXED == DRIVE_FIXED && FILE_DRIVE_REMOTE == DRIVE_REMOTE &&
                      FILE_DRIVE_REMOVABLE == DRIVE_REMOVABLE && FILE_DRIVE_RAMDISK == DRIVE_RAMDISK,
                  "the core's drive types are the system's");
    FileIdentityFacts facts;
    *directory = false;
    if (!QuickFacts(file, &facts, directory)) {
        facts = FileIdentityFacts();
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file, &info))
            return FileFacts();
        *directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const auto wide = [](DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; };
        facts.indexKnown = true;
        facts.volume32 = info.dwVolumeSerialNumber;
        facts.index64 = wide(info.nFileIndexHigh, info.nFileIndexLow);
        facts.size = wide(info.nFileSizeHigh, info.nFileSizeLow);
        facts.lastWrite = wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    }
    if (*directory)
        return FileFacts();
    std::wstring path = RawFinalPathOf(file);
    facts.driveType = path.empty() ? FILE_DRIVE_UNKNOWN : DriveTypeOf(path, &facts.networkPath);
    if (finalPath != nullptr)
        finalPath->swap(path);
    return IdentifyFile(facts);
}

const DescribeAnswer* DescribedFiles::FindPath(const std::string& key) const
{
    auto at = std::lower_bound(paths_.begin(), paths_.end(), key,
                               [](const std::pair<std::string, FileFacts>& entry, const std::string& wanted) {
                                   return entry.first < wanted;
                               });
    if (at == paths_.end() || at->first != key)
        return nullptr;
    const Kept* kept = files_.Find(at->second);
    return kept != nullptr ? &kept->answer : nullptr;
}

const DescribeAnswer* DescribedFiles::FindFile(const FileFacts& facts, const std::string& key)
{
    const Kept* kept = files_.Find(facts);
    if (kept == nullptr)
        return nullptr;
    Keep(facts, key, kept->answer, handles::FileHandle());
    return &files_.Find(facts)->answer;
}

void DescribedFiles::Keep(const FileFacts& facts, const std::string& key, const DescribeAnswer& answer,
                          handles::FileHandle held)
{
    // A spelling costs its bytes and its entry; past the budget, a spelling
    // is merely looked up by its file again.
    constexpr std::size_t PATH_BUDGET_BYTES = 1024 * 1024;
    try {
        if (files_.Find(facts) == nullptr) {
            std::size_t heldBytes = 0;
            for (const DescribedStrings& strings : answer.strings) {
                for (const std::string& text : strings.texts)
                    heldBytes += sizeof(std::string) + text.size();
            }
            if (!files_.Add(facts, Kept{answer, std::move(held)}, heldBytes))
                return;
        }
        auto at = std::lower_bound(paths_.begin(), paths_.end(), key,
                                   [](const std::pair<std::string, FileFacts>& entry, const std::string& wanted) {
                                       return entry.first < wanted;
                                   });
        const std::size_t cost = sizeof(paths_[0]) + key.size();
        if ((at != paths_.end() && at->first == key) || pathBytes_ + cost > PATH_BUDGET_BYTES)
            return;
        paths_.insert(at, std::make_pair(key, facts));
        pathBytes_ += cost;
    } catch (...) {
        // Out of memory: the file is merely read again if it comes again.
    }
}
