#include "namelines.h"

namespace {

// Text mode stopped at a Ctrl-Z, and a file without a mark reads as it did
// there; a file with a mark stops at a decoded Ctrl-Z character, never at a
// byte 0x1A inside another one (the UTF-16 unit of U+011A holds one).
constexpr std::uint32_t END_OF_DATA = 0x1A;
constexpr std::size_t LINE_UNITS = NAME_LINE_SIZE + 1;  // 259 characters and a pair of quotes

void StartLine(NameLineReader* reader)
{
    reader->length = 0;
    reader->overflow = false;
    reader->undecodable = false;
}

// The line that ends here, as an event: the pair of quotes around it dropped,
// the name cut at its first NUL, a blank line (or a pair of quotes alone) none.
NameLineEvent EndLine(NameLineReader* reader)
{
    reader->lineNumber = ++reader->lines;
    std::size_t start = 0;
    std::size_t end = reader->length;
    if (!reader->overflow && end >= 2 && reader->line[0] == '"' && reader->line[end - 1] == '"') {
        start = 1;
        end -= 1;
    }
    NameLineEvent event = NAME_LINE_ENDS;
    if (reader->undecodable)
        event = NAME_LINE_UNDECODABLE;
    else if (reader->overflow || end - start > NAME_LINE_SIZE - 1)
        event = NAME_LINE_TOO_LONG;
    else if (end == start)
        event = NAME_LINE_GOES_ON;
    reader->nameLength = 0;
    if (event == NAME_LINE_ENDS) {
        while (start + reader->nameLength < end && reader->line[start + reader->nameLength] != 0) {
            reader->name[reader->nameLength] = reader->line[start + reader->nameLength];
            ++reader->nameLength;
        }
    }
    reader->name[reader->nameLength] = 0;
    StartLine(reader);
    return event;
}

// The end of the data: the line in progress is the last one.
NameLineEvent EndData(NameLineReader* reader)
{
    reader->ended = true;
    if (reader->length == 0 && !reader->overflow && !reader->undecodable)
        return NAME_LIST_ENDS;
    NameLineEvent event = EndLine(reader);
    return event == NAME_LINE_GOES_ON ? NAME_LIST_ENDS : event;
}

NameLineEvent TakeUnit(NameLineReader* reader, std::uint32_t unit)
{
    if (unit == END_OF_DATA)
        return EndData(reader);
    bool afterCr = reader->afterCr;
    reader->afterCr = unit == '\r';
    if (unit == '\r' || unit == '\n')
        return unit == '\n' && afterCr ? NAME_LINE_GOES_ON : EndLine(reader);
    if (unit == 0 && reader->encoding == NAME_LIST_ANSI)
        reader->nulByte = true;
    if (reader->length < LINE_UNITS)
        reader->line[reader->length++] = static_cast<std::uint16_t>(unit);
    else
        reader->overflow = true;
    return NAME_LINE_GOES_ON;
}

NameLineEvent TakeCodePoint(NameLineReader* reader, std::uint32_t point)
{
    if (point < 0x10000)
        return TakeUnit(reader, point);
    point -= 0x10000;
    TakeUnit(reader, 0xD800 + (point >> 10));
    return TakeUnit(reader, 0xDC00 + (point & 0x3FF));
}

// One byte of UTF-8. A byte that cannot come where it comes makes the line
// undecodable and is read again as the start of a character, so that a line
// end after a cut sequence still ends the line.
NameLineEvent TakeUtf8(NameLineReader* reader, std::uint8_t byte)
{
    if (reader->needed > 0) {
        if (byte >= reader->low && byte <= reader->high) {
            reader->pending = reader->pending << 6 | (byte & 0x3Fu);
            reader->low = 0x80;
            reader->high = 0xBF;
            return --reader->needed == 0 ? TakeCodePoint(reader, reader->pending) : NAME_LINE_GOES_ON;
        }
        reader->needed = 0;
        reader->undecodable = true;
    }
    if (byte < 0x80)
        return TakeUnit(reader, byte);
    reader->low = 0x80;
    reader->high = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
        reader->needed = 1;
        reader->pending = byte & 0x1Fu;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        reader->needed = 2;
        reader->pending = byte & 0x0Fu;
        reader->low = byte == 0xE0 ? 0xA0 : 0x80;
        reader->high = byte == 0xED ? 0x9F : 0xBF;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        reader->needed = 3;
        reader->pending = byte & 0x07u;
        reader->low = byte == 0xF0 ? 0x90 : 0x80;
        reader->high = byte == 0xF4 ? 0x8F : 0xBF;
    } else {
        reader->undecodable = true;
    }
    return NAME_LINE_GOES_ON;
}

}  // namespace

NameListEncoding ReadNameListMark(const std::uint8_t* start, std::size_t size, std::size_t* markBytes)
{
    *markBytes = 0;
    if (size >= 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF) {
        *markBytes = 3;
        return NAME_LIST_UTF8;
    }
    if (size >= 2 && ((start[0] == 0xFF && start[1] == 0xFE) || (start[0] == 0xFE && start[1] == 0xFF))) {
        *markBytes = 2;
        return start[0] == 0xFF ? NAME_LIST_UTF16LE : NAME_LIST_UTF16BE;
    }
    return NAME_LIST_ANSI;
}

NameLineEvent ReadNameByte(NameLineReader* reader, int byte)
{
    if (reader->ended)
        return NAME_LIST_ENDS;
    if (byte == NAME_INPUT_END) {
        // A character cut by the end of the file: the line it is in was cut too.
        if (reader->needed > 0)
            reader->undecodable = true;
        return EndData(reader);
    }
    const std::uint8_t value = static_cast<std::uint8_t>(byte);
    switch (reader->encoding) {
    case NAME_LIST_ANSI:
        return TakeUnit(reader, value);
    case NAME_LIST_UTF8:
        return TakeUtf8(reader, value);
    case NAME_LIST_UTF16LE:
    case NAME_LIST_UTF16BE:
        if (reader->needed == 0) {
            reader->pending = value;
            reader->needed = 1;
            return NAME_LINE_GOES_ON;
        }
        reader->needed = 0;
        return TakeUnit(reader, reader->encoding == NAME_LIST_UTF16LE ? reader->pending | value << 8u
                                                                      : reader->pending << 8u | value);
    }
    return NAME_LINE_GOES_ON;
}
