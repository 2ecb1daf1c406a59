#pragma once
// The files a run has described, known by what the file system says of them
// rather than by the spelling of a path: two spellings of one file, or two
// hard links to it, are one file; a file changed between two records is two.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <utility>
#include <vector>

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

// Any order of the facts serves the table's search; this one compares them
// field by field.
inline bool operator<(const FileFacts& a, const FileFacts& b)
{
    if (a.volume != b.volume)
        return a.volume < b.volume;
    if (a.index != b.index)
        return a.index < b.index;
    if (a.size != b.size)
        return a.size < b.size;
    return a.lastWrite < b.lastWrite;
}

// What a run found for each file, for at most `capacity` files: past that,
// files are looked at afresh, as without the table. Adding may throw (out of
// memory); the table is then as it was. Kept sorted: a run adds a few hundred
// files and looks them up thousands of times.
template <typename Found>
class KnownFiles {
public:
    explicit KnownFiles(std::size_t capacity) : capacity_(capacity) {}

    const Found* Find(const FileFacts& file) const
    {
        auto at = std::lower_bound(found_.begin(), found_.end(), file, Before);
        return IsKnowable(file) && at != found_.end() && at->first == file ? &at->second : nullptr;
    }

    // False when the file is not knowable, already known, or the table is full.
    bool Add(const FileFacts& file, Found found)
    {
        auto at = std::lower_bound(found_.begin(), found_.end(), file, Before);
        if (!IsKnowable(file) || found_.size() >= capacity_ || (at != found_.end() && at->first == file))
            return false;
        found_.insert(at, std::make_pair(file, std::move(found)));
        return true;
    }

private:
    static bool Before(const std::pair<FileFacts, Found>& entry, const FileFacts& file) { return entry.first < file; }

    std::size_t capacity_;
    std::vector<std::pair<FileFacts, Found>> found_;
};
