#pragma once
// The value search in a Java virtual machine's performance-data file, over the
// bytes of the file as mapped: nothing outside them is read, whatever size the
// file's metadata reported.
#include <cstddef>
#include <string>

// The largest file searched for the command. Real performance-data files are
// tens of KiB; a bigger one is not searched, so that no user can make every
// inventory run slow with a huge (perhaps sparse) file.
constexpr long long PERF_DATA_MAX_BYTES = 4LL << 20;
// The bytes searched for one process across all the files that may hold its
// command, its owner's places included: four files at the bound above, or
// hundreds of real ones. A user who plants hundreds of big files where their
// own process's file may lie makes only that lookup stop early, after some
// milliseconds of searching at memory speed, never the run slow. At least one
// file at the bound, so that the first one looked at is always read.
constexpr long long PERF_DATA_LOOKUP_BYTES = 4 * PERF_DATA_MAX_BYTES;
static_assert(PERF_DATA_LOOKUP_BYTES >= PERF_DATA_MAX_BYTES, "the first file must always fit");
// Files opened for one process. Each open, with its type, owner and size
// queries and the mapping, is a handful of system calls, milliseconds at most
// even where a scanner inspects every open: 64 of them stay well under a
// second, and a process has one file, rarely a few old ones beside it.
constexpr int PERF_DATA_LOOKUP_FILES = 64;

// What reading a performance-data file gives: 0 when the value was copied,
// otherwise the first reason it was not, in the order they are met.
enum PerfDataResult {
    PERF_READ = 0,
    PERF_NOT_OPENED = -1,      // the file could not be opened
    PERF_SIZE_UNKNOWN = -2,    // its size could not be read
    PERF_TOO_LARGE = -3,       // larger than PERF_DATA_MAX_BYTES
    PERF_NOT_MAPPED = -4,      // no mapping could be made (an empty file)
    PERF_NO_VIEW = -5,         // the mapping could not be viewed
    PERF_NO_KEY = -6,          // the key's name is not in the file
    PERF_NO_VALUE = -7,        // nothing follows the key's name
    PERF_NOT_PLAIN = -8,       // not a plain disk file: a pipe, a device, a directory, a reparse point
    PERF_NOT_OWNERS = -9,      // where others can write, a file that none of the owner's side made
    PERF_BUDGET_SPENT = -10,   // the lookup's bytes or files for the process are spent
};

// Who owns a file, as its security descriptor's owner compares with the
// process's owner.
enum PerfFileOwner {
    PERF_OWNER_UNKNOWN,  // the descriptor could not be read
    PERF_OWNER_PROCESS_OWNER,
    PERF_OWNER_SYSTEM,
    PERF_OWNER_ADMINISTRATORS,
    PERF_OWNER_OTHER,  // another user, or any other group
};

// What the open handle says of a candidate file.
struct PerfFileFacts {
    bool diskFile = false;         // a file on disk, not a pipe or a character device
    bool attributesKnown = false;  // the attributes below could be read
    bool directory = false;
    bool reparsePoint = false;  // a link or junction: the open does not follow one, so it shows as itself
    bool ownerRule = false;     // the file lies where others can write too
    PerfFileOwner owner = PERF_OWNER_UNKNOWN;
    bool sizeKnown = false;
    long long size = 0;
};

// What the lookup for one process may still spend, over all its candidate
// files together.
struct PerfLookupBudget {
    long long bytes = PERF_DATA_LOOKUP_BYTES;
    int opens = PERF_DATA_LOOKUP_FILES;
};

// Whether a file may be mapped and searched: PERF_READ, or PERF_NOT_PLAIN,
// PERF_NOT_OWNERS, PERF_SIZE_UNKNOWN, PERF_TOO_LARGE, PERF_BUDGET_SPENT. A
// pipe or a device might answer a read never, and a link leads where its
// maker chose. With `budget`, a file is read only when it fits in what is left
// of it, whole or not at all (a value is never taken from a file searched in
// part), and its size is then taken from what is left.
int JudgePerfDataFile(const PerfFileFacts& facts, PerfLookupBudget* budget);

// Copies the string that follows the NUL-terminated name holding `key` into
// `value`: the search and the copy of ReadPerfDataValue over a mapped view of
// `viewBytes` readable bytes, of a file whose size was read as `reportedSize`.
// PERF_READ, or PERF_NO_KEY or PERF_NO_VALUE with `value` untouched. Growing
// `value` may throw.
int FindPerfDataValue(const char* view, std::size_t viewBytes, int reportedSize, const char* key, std::string& value);

// Offset of the first occurrence of `key` that leaves at least one byte of the
// buffer after it, or -1. Time linear in `size` plus the key's length, whatever
// the bytes; the key's table may throw for want of memory.
int FindInBuffer(const char* data, int size, const char* key);
// Offset of the byte after the NUL that ends the string starting at `offset`,
// or -1 when no such byte lies inside the buffer.
int NextStringOffset(const char* data, int size, int offset);
