#pragma once
// The name list's lines: the input file's bytes, one at a time, to names. A
// byte-order mark at the start says how the file is encoded (UTF-16 LE, UTF-16
// BE, UTF-8), and such a file is split on its decoded characters; a file
// without one is ANSI bytes, read as they stand. In every encoding CR, LF and
// CR LF end a line, blank lines hold no name, a Ctrl-Z ends the data as the end
// of the file does, the last line needs no line end, one pair of double quotes
// around a whole line is dropped (no Windows file name holds a '"'), a NUL cuts
// the name, and a line whose name is longer than 259 characters is skipped.
#include <cstddef>
#include <cstdint>

constexpr std::size_t NAME_LINE_SIZE = 260;  // a name of up to 259 characters and its NUL
constexpr int NAME_INPUT_END = -1;          // the byte value that tells the end of the file

enum NameListEncoding {
    NAME_LIST_ANSI,  // no mark: bytes in the ANSI code page
    NAME_LIST_UTF16LE,
    NAME_LIST_UTF16BE,
    NAME_LIST_UTF8,
};

// The encoding that the file's first bytes (`size` of them; 3 are enough)
// announce, and in `markBytes` the length of the mark, which is no part of a name.
NameListEncoding ReadNameListMark(const std::uint8_t* start, std::size_t size, std::size_t* markBytes);

enum NameLineEvent {
    NAME_LINE_GOES_ON,      // nothing to hand out yet
    NAME_LINE_ENDS,         // `name` holds the name of line `lineNumber`
    NAME_LINE_TOO_LONG,     // line `lineNumber` holds a name longer than 259 characters: it is skipped
    NAME_LINE_UNDECODABLE,  // line `lineNumber` is not valid in the file's encoding: it is skipped
    NAME_LIST_ENDS,         // no more names; every later byte gives this too
};

struct NameLineReader {
    NameListEncoding encoding = NAME_LIST_ANSI;
    // The name handed out, NUL-terminated: ANSI bytes, or UTF-16 units for a
    // file with a mark (unpaired surrogates of a UTF-16 file kept as they are).
    std::uint16_t name[NAME_LINE_SIZE] = {};
    std::size_t nameLength = 0;
    std::size_t lineNumber = 0;  // of the line an event tells of, from 1; CR LF ends one line
    bool nulByte = false;        // a file without a mark held a NUL byte: UTF-16 without its mark, likely

    // The line being read: room for a name and a pair of quotes.
    std::uint16_t line[NAME_LINE_SIZE + 1] = {};
    std::size_t length = 0;
    bool overflow = false;     // more units came than `line` holds
    bool undecodable = false;  // a byte sequence that the encoding does not allow
    bool afterCr = false;
    bool ended = false;
    std::size_t lines = 0;  // lines ended so far
    // A character begun: its bits so far, the bytes it still needs, the range
    // of the next UTF-8 byte (which rules out overlong forms and surrogates).
    std::uint32_t pending = 0;
    int needed = 0;
    std::uint8_t low = 0x80, high = 0xBF;
};

// Takes the next byte of the file after its mark (0 to 255, or NAME_INPUT_END)
// into `reader`. The end of the data hands out the last line first, then
// NAME_LIST_ENDS: the caller goes on giving NAME_INPUT_END until that comes.
NameLineEvent ReadNameByte(NameLineReader* reader, int byte);
