#include "bounded.h"

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

std::size_t CutOnCharacter(const char* text, std::size_t length, std::size_t limit, const LeadBytes& leadBytes)
{
    if (length <= limit)
        return length;
    // Walked from the start: only there is it known which byte is a lead and
    // which a trail, since a trail byte may have a lead byte's value.
    std::size_t kept = 0;
    while (kept < length) {
        std::size_t step = leadBytes.lead[static_cast<unsigned char>(text[kept])] && kept + 1 < length ? 2 : 1;
        if (kept + step > limit)
            break;
        kept += step;
    }
    return kept;
}
