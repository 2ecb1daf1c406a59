#include "perfdata.h"

#include <cstring>

int FindPerfDataValue(const char* view, std::size_t viewBytes, int reportedSize, const char* key, std::string& value)
{
    int count = reportedSize;
    if (count > 0 && static_cast<std::size_t>(count) > viewBytes)
        count = static_cast<int>(viewBytes);
    int offset = FindInBuffer(view, count, key);
    if (offset < 0)
        return -6;
    int start = NextStringOffset(view, count, offset);
    if (start < 0)
        return -7;
    const char* begin = view + start;
    const void* end = std::memchr(begin, '\0', static_cast<std::size_t>(count - start));
    std::size_t length = end ? static_cast<const char*>(end) - begin : static_cast<std::size_t>(count - start);
    value.assign(begin, length);
    return 0;
}

int FindInBuffer(const char* data, int size, const char* key)
{
    if (data == nullptr || key == nullptr)
        return -1;
    int length = static_cast<int>(std::strlen(key));
    if (size < 0 || size - length < 0)
        return -1;
    for (int i = 0; i < size - length; ++i) {
        if (std::memcmp(data + i, key, static_cast<std::size_t>(length)) == 0)
            return i;
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
