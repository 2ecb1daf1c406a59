#pragma once
// The name list's line splitting: the input file's bytes, one at a time, to
// names. CR, LF and CR LF end a line, blank lines hold no name, and a Ctrl-Z
// ends the data as the end of the file does.
#include <cstddef>

constexpr std::size_t NAME_LINE_SIZE = 260;  // a name of up to 259 bytes and its NUL
constexpr int NAME_INPUT_END = -1;          // the byte value that tells the end of the file

enum NameLineEvent {
    NAME_LINE_GOES_ON,   // the byte was taken into the line
    NAME_LINE_ENDS,      // the line holds a complete name
    NAME_LIST_ENDS,      // no more names; the line holds the last one when its length is not 0
    NAME_LINE_TOO_LONG,  // a line longer than 259 bytes: the reading stops
};

struct NameLineReader {
    // The line taken so far, NUL-terminated. A NUL byte read from the file
    // stays in it, so the name is the line up to its first NUL.
    char line[NAME_LINE_SIZE] = {};
    std::size_t length = 0;
    bool complete = false;  // the line was handed out: the next byte starts a new one
};

// Takes the next byte of the file (0 to 255, or NAME_INPUT_END) into `reader`.
NameLineEvent ReadNameByte(NameLineReader* reader, int byte);
