#pragma once
// Bounded copies into fixed character buffers. The one rule for every buffer
// of TaskRoll: a text that does not fit is cut to the first size - 1 bytes, and
// the buffer always ends in a NUL. The result tells whether the text fit whole.
// Where the cut must not split a double-byte character, CutOnCharacter gives
// the length to copy.
#include <cstddef>

bool CopyBounded(char* destination, std::size_t destinationSize, const char* source);
bool AppendBounded(char* destination, std::size_t destinationSize, const char* source);

// Which bytes begin a two-byte character in the ANSI code page (932, 936, 949,
// 950 have such lead bytes); all false for a single-byte code page. The program
// fills it from the system; the core only reads it.
struct LeadBytes {
    bool lead[256] = {};
};

// The length of the longest start of `text` (`length` bytes) that holds at most
// `limit` bytes and ends on a character boundary: a lead byte is never kept
// without the byte after it. A lead byte that is the text's last byte counts as
// a character of its own, as the system's multibyte functions take it.
std::size_t CutOnCharacter(const char* text, std::size_t length, std::size_t limit, const LeadBytes& leadBytes);
