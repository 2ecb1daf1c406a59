#include "text.h"

#include <cstring>

bool CopyBounded(char* destination, std::size_t destinationSize, const char* source)
{
    if (destinationSize == 0)
        return false;
    destination[0] = '\0';
    return AppendBounded(destination, destinationSize, source);
}

bool AppendBounded(char* destination, std::size_t destinationSize, const char* source)
{
    if (destinationSize == 0)
        return false;
    std::size_t used = strnlen(destination, destinationSize);
    if (used == destinationSize) {
        // No NUL inside the buffer: make it a valid text before appending nothing.
        destination[destinationSize - 1] = '\0';
        return false;
    }
    std::size_t room = destinationSize - 1 - used;
    std::size_t length = std::strlen(source);
    bool fits = length <= room;
    if (!fits)
        length = room;
    std::memcpy(destination + used, source, length);
    destination[used + length] = '\0';
    return fits;
}
