#include "namelines.h"

#include <cstring>

namespace {

// Text mode already stops at a Ctrl-Z; testing for it here as well keeps the
// rule independent of the runtime's text-mode handling.
constexpr int END_OF_DATA = 0x1A;

}  // namespace

NameLineEvent ReadNameByte(NameLineReader* reader, int byte)
{
    if (reader->complete) {
        reader->length = 0;
        std::memset(reader->line, 0, sizeof reader->line);
        reader->complete = false;
    }
    if (byte == NAME_INPUT_END || byte == END_OF_DATA)
        return NAME_LIST_ENDS;
    if (byte == '\r' || byte == '\n') {
        if (reader->length == 0)
            return NAME_LINE_GOES_ON;
        reader->complete = true;
        return NAME_LINE_ENDS;
    }
    if (reader->length == sizeof reader->line - 1)
        return NAME_LINE_TOO_LONG;
    reader->line[reader->length++] = static_cast<char>(byte);
    return NAME_LINE_GOES_ON;
}
