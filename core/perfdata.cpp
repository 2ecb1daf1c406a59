#include "perfdata.h"

#include <cstring>
#include <vector>

int JudgePerfDataFile(const PerfFileFacts& facts, PerfLookupBudget* budget)
{
    if (!facts.diskFile || !facts.attributesKnown || facts.directory || facts.reparsePoint)
        return PERF_NOT_PLAIN;
    // The owner may be a SID other than the process's user where an
    // administrator or the system made the file: those can write anywhere.
    if (facts.ownerRule && facts.owner != PERF_OWNER_PROCESS_OWNER && facts.owner != PERF_OWNER_SYSTEM &&
        facts.owner != PERF_OWNER_ADMINISTRATORS)
        return PERF_NOT_OWNERS;
    if (!facts.sizeKnown)
        return PERF_SIZE_UNKNOWN;
    if (facts.size > PERF_DATA_MAX_BYTES)
        return PERF_TOO_LARGE;
    if (budget != nullptr) {
        if (facts.size > budget->bytes)
            return PERF_BUDGET_SPENT;
        budget->bytes -= facts.size;
    }
    return PERF_READ;
}

int FindPerfDataValue(const char* view, std::size_t viewBytes, int reportedSize, const char* key, std::string& value)
{
    int count = reportedSize;
    if (count > 0 && static_cast<std::size_t>(count) > viewBytes)
        count = static_cast<int>(viewBytes);
    int offset = FindInBuffer(view, count, key);
    if (offset < 0)
        return PERF_NO_KEY;
    int start = NextStringOffset(view, count, offset);
    if (start < 0)
        return PERF_NO_VALUE;
    const char* begin = view + start;
    const void* end = std::memchr(begin, '\0', static_cast<std::size_t>(count - start));
    std::size_t length = end ? static_cast<const char*>(end) - begin : static_cast<std::size_t>(count - start);
    value.assign(begin, length);
    return PERF_READ;
}

// One pass over the buffer, each byte looked at once (Knuth-Morris-Pratt):
// a buffer made to look like the key again and again, or a 4 MiB file of
// zeros, costs no more than its length. While nothing of the key is matched,
// memchr skips to the next byte that could start it, which passes over the
// zero-filled bulk of a file at memory speed.
int FindInBuffer(const char* data, int size, const char* key)
{
    if (data == nullptr || key == nullptr)
        return -1;
    int length = static_cast<int>(std::strlen(key));
    if (size < 0 || size - length < 0)
        return -1;
    if (length == 0)
        return size > 0 ? 0 : -1;
    // border[k]: the length of the longest proper prefix of the key's first
    // k + 1 bytes that is also their suffix, where a mismatch resumes.
    std::vector<int> border(static_cast<std::size_t>(length), 0);
    for (int k = 1, matched = 0; k < length; ++k) {
        while (matched > 0 && key[k] != key[matched])
            matched = border[static_cast<std::size_t>(matched - 1)];
        if (key[k] == key[matched])
            ++matched;
        border[static_cast<std::size_t>(k)] = matched;
    }
    // An occurrence must leave at least one byte after it: the last byte of
    // the buffer can never be part of one.
    const int end = size - 1;
    int matched = 0;
    for (int i = 0; i < end; ++i) {
        if (matched == 0) {
            const void* next = std::memchr(data + i, key[0], static_cast<std::size_t>(end - i));
            if (next == nullptr)
                return -1;
            i = static_cast<int>(static_cast<const char*>(next) - data);
        }
        while (matched > 0 && data[i] != key[matched])
            matched = border[static_cast<std::size_t>(matched - 1)];
        if (data[i] == key[matched])
            ++matched;
        if (matched == length)
            return i + 1 - length;
    }
    return -1;
}

int NextStringOffset(const char* data, int size, int offset)
{
    if (data == nullptr || size < 0 || offset < 0 || offset >= size)
        return -1;
    const void* end = std::memchr(data + offset, '\0', static_cast<std::size_t>(size - offset));
    if (end == nullptr)
        return -1;
    int next = static_cast<int>(static_cast<const char*>(end) - data) + 1;
    return next < size ? next : -1;
}
