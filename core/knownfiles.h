#pragma once
// The files a run has described, known by what the file system says of them
// rather than by the spelling of a path: two spellings of one file, or two
// hard links to it, are one file; a file changed between two records is two.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>

// What an open handle tells of its file. The volume's serial number and the
// file's index on that volume name the file whatever path or link reached
// it; the size and the last-write time tell a file changed since it was seen.
struct FileFacts {
    std::uint32_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
};

inline bool operator==(const FileFacts& a, const FileFacts& b)
{
    return a.volume == b.volume && a.index == b.index && a.size == b.size && a.lastWrite == b.lastWrite;
}

// A file whose volume serial number and index are both 0 is not known by
// them: some file systems (network redirectors among them) give no index,
// and every file there would look like one.
inline bool IsKnowable(const FileFacts& file)
{
    return file.volume != 0 || file.index != 0;
}

struct FileFactsHash {
    std::size_t operator()(const FileFacts& file) const
    {
        std::uint64_t mixed = file.index * 0x9E3779B97F4A7C15ull ^ file.volume;
        mixed ^= file.size * 0xC2B2AE3D27D4EB4Full ^ file.lastWrite * 0x165667B19E3779F9ull;
        return std::hash<std::uint64_t>()(mixed);
    }
};

// What a run found for each file, for at most `capacity` files: past that,
// files are looked at afresh, as without the table. Adding may throw (out of
// memory); the table is then as it was.
template <typename Found>
class KnownFiles {
public:
    explicit KnownFiles(std::size_t capacity) : capacity_(capacity) {}

    const Found* Find(const FileFacts& file) const
    {
        auto at = IsKnowable(file) ? found_.find(file) : found_.end();
        return at == found_.end() ? nullptr : &at->second;
    }

    // False when the file is not knowable or the table is full.
    bool Add(const FileFacts& file, Found found)
    {
        if (!IsKnowable(file) || found_.size() >= capacity_)
            return false;
        found_[file] = std::move(found);
        return true;
    }

private:
    std::size_t capacity_;
    std::unordered_map<FileFacts, Found, FileFactsHash> found_;
};
