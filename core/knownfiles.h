#pragma once
// The files a run has described, known by what the file system says of them
// rather than by the spelling of a path: two spellings of one file, or two
// hard links to it, are one file; a file changed between two records is two.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

// How a file is named on its volume: by the 128-bit file id and the volume's
// 64-bit serial number where the file system gives them, by the older 64-bit
// index and 32-bit serial where it gives only those, or not at all.
enum FileKeyKind : std::uint8_t {
    FILE_KEY_NONE,
    FILE_KEY_INDEX_64,
    FILE_KEY_ID_128,
};

// The identity that a file's handle gives, with its size and last-write
// time, which tell a file changed since it was seen. The id's kind is part of
// it: a 64-bit index never stands for a 128-bit id that merely ends in it.
struct FileFacts {
    FileKeyKind kind = FILE_KEY_NONE;
    std::uint64_t volume = 0;
    std::uint64_t idHigh = 0;  // the upper half of a 128-bit id; 0 for a 64-bit index
    std::uint64_t index = 0;   // the 64-bit index, or the lower half of a 128-bit id
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
};

inline bool operator==(const FileFacts& a, const FileFacts& b)
{
    return a.kind == b.kind && a.volume == b.volume && a.idHigh == b.idHigh && a.index == b.index &&
           a.size == b.size && a.lastWrite == b.lastWrite;
}

// Only a file with an identity is remembered or found (see IdentifyFile).
inline bool IsKnowable(const FileFacts& file)
{
    return file.kind != FILE_KEY_NONE;
}

// Any order of the facts serves the table's search; this one compares them
// field by field.
inline bool operator<(const FileFacts& a, const FileFacts& b)
{
    if (a.kind != b.kind)
        return a.kind < b.kind;
    if (a.volume != b.volume)
        return a.volume < b.volume;
    if (a.idHigh != b.idHigh)
        return a.idHigh < b.idHigh;
    if (a.index != b.index)
        return a.index < b.index;
    if (a.size != b.size)
        return a.size < b.size;
    return a.lastWrite < b.lastWrite;
}

// The drive types that the system reports for a file's volume, by the
// numbers it gives them.
constexpr unsigned FILE_DRIVE_UNKNOWN = 0;
constexpr unsigned FILE_DRIVE_NO_ROOT = 1;
constexpr unsigned FILE_DRIVE_REMOVABLE = 2;
constexpr unsigned FILE_DRIVE_FIXED = 3;
constexpr unsigned FILE_DRIVE_REMOTE = 4;
constexpr unsigned FILE_DRIVE_CDROM = 5;
constexpr unsigned FILE_DRIVE_RAMDISK = 6;

// What the system says of a file's identity and volume, each part where it
// answered.
struct FileIdentityFacts {
    bool id128Known = false;  // the 128-bit id and 64-bit serial
    std::uint64_t volume64 = 0;
    std::uint8_t id128[16] = {};  // as the system gives it, least significant byte first
    bool indexKnown = false;      // the 64-bit index and 32-bit serial, with the size and time
    std::uint32_t volume32 = 0;
    std::uint64_t index64 = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    unsigned driveType = FILE_DRIVE_UNKNOWN;  // of the volume that holds the file
    bool networkPath = false;                 // the file's final path names a server (\\server\share)
};

// The facts by which a run knows the file. A file on a volume that is not
// the machine's own fixed disk gets no identity, so nothing is remembered of
// it and nothing remembered is taken for it: a server or a removable volume
// makes up its serial numbers and ids as it likes, and could claim those of
// a file TaskRoll read elsewhere. The 128-bit id serves where the system
// gives one (on ReFS the 64-bit index need not be unique); the 64-bit index
// where it does not. An id of all zeros or all ones names no file.
FileFacts IdentifyFile(const FileIdentityFacts& facts);
// Whether a run trusts the ids of the volume that holds a file: the
// machine's own fixed disk (or RAM disk), not reached through a server.
bool IsTrustedVolume(unsigned driveType, bool networkPath);

// What a run found for each file, for at most `capacity` files and
// `budgetBytes` bytes: each entry costs its key and entry and the bytes its
// adder says it holds besides. A file that does not fit is not remembered (it
// is looked at afresh, as without the table); nothing is evicted. Adding may
// throw (out of memory); the table is then as it was. Kept sorted: a run adds
// a few hundred files and looks them up thousands of times.
template <typename Found>
class KnownFiles {
public:
    explicit KnownFiles(std::size_t capacity, std::size_t budgetBytes = std::numeric_limits<std::size_t>::max())
        : capacity_(capacity), budgetBytes_(budgetBytes)
    {
    }

    // What one entry costs before the bytes its adder counts.
    static constexpr std::size_t ENTRY_BYTES = sizeof(std::pair<FileFacts, Found>);

    const Found* Find(const FileFacts& file) const
    {
        auto at = std::lower_bound(found_.begin(), found_.end(), file, Before);
        return IsKnowable(file) && at != found_.end() && at->first == file ? &at->second : nullptr;
    }

    // False when the file is not knowable, already known, or the table is
    // full: of files, or of bytes for one that holds `heldBytes` besides.
    bool Add(const FileFacts& file, Found found, std::size_t heldBytes = 0)
    {
        auto at = std::lower_bound(found_.begin(), found_.end(), file, Before);
        const std::size_t left = budgetBytes_ - usedBytes_;
        if (!IsKnowable(file) || found_.size() >= capacity_ || (at != found_.end() && at->first == file) ||
            left < ENTRY_BYTES || heldBytes > left - ENTRY_BYTES)
            return false;
        found_.insert(at, std::make_pair(file, std::move(found)));
        usedBytes_ += ENTRY_BYTES + heldBytes;
        return true;
    }

    std::size_t UsedBytes() const { return usedBytes_; }

private:
    static bool Before(const std::pair<FileFacts, Found>& entry, const FileFacts& file) { return entry.first < file; }

    std::size_t capacity_;
    std::size_t budgetBytes_;
    std::size_t usedBytes_ = 0;
    std::vector<std::pair<FileFacts, Found>> found_;
};
