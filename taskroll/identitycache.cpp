#include "readerworker.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The drive type of the volume that holds the open file, and whether its
// final path names a server. A volume mounted in a folder of another is
// asked by its own root.
unsigned DriveTypeOf(HANDLE file, bool* networkPath)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.assign(length + 1, L'\0');
        length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= path.size())
        return FILE_DRIVE_UNKNOWN;
    path.resize(length);
    *networkPath = path.compare(0, 8, L"\\\\?\\UNC\\") == 0;
    std::wstring root(path.size() + 2, L'\0');
    if (!GetVolumePathNameW(path.c_str(), &root[0], static_cast<DWORD>(root.size())))
        return FILE_DRIVE_UNKNOWN;
    return GetDriveTypeW(root.c_str());
}

}  // namespace

// What the open handle tells of its file, as IdentifyFile takes it: no
// identity where it tells nothing, or the file lies on a volume whose ids a
// run does not trust (see knownfiles.h). `directory` tells whether it is a
// directory.
FileFacts FactsOf(HANDLE file, bool* directory)
{
    static_assert(FILE_DRIVE_FIXED == DRIVE_FIXED && FILE_DRIVE_REMOTE == DRIVE_REMOTE &&
                      FILE_DRIVE_REMOVABLE == DRIVE_REMOVABLE && FILE_DRIVE_RAMDISK == DRIVE_RAMDISK,
                  "the core's drive types are the system's");
    BY_HANDLE_FILE_INFORMATION info;
    FileIdentityFacts facts;
    *directory = false;
    if (!GetFileInformationByHandle(file, &info))
        return FileFacts();
    *directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const auto wide = [](DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; };
    facts.indexKnown = true;
    facts.volume32 = info.dwVolumeSerialNumber;
    facts.index64 = wide(info.nFileIndexHigh, info.nFileIndexLow);
    facts.size = wide(info.nFileSizeHigh, info.nFileSizeLow);
    facts.lastWrite = wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    // The 128-bit id, where the file system has one (Wine's has: the 64-bit
    // index in its lower half); a file system that does not refuses the query.
    FILE_ID_INFO id;
    facts.id128Known = GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) != FALSE;
    if (facts.id128Known) {
        facts.volume64 = id.VolumeSerialNumber;
        static_assert(sizeof id.FileId.Identifier == sizeof facts.id128, "a 128-bit id");
        std::memcpy(facts.id128, id.FileId.Identifier, sizeof facts.id128);
    }
    facts.driveType = DriveTypeOf(file, &facts.networkPath);
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
