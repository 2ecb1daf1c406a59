#pragma once
// The value search in a Java virtual machine's performance-data file, over the
// bytes of the file as mapped: nothing outside them is read, whatever size the
// file's metadata reported.
#include <cstddef>
#include <string>

// Copies the string that follows the NUL-terminated name holding `key` into
// `value`: the search and the copy of ReadPerfDataValue over a mapped view of
// `viewBytes` readable bytes, of a file whose size was read as `reportedSize`.
// 0 on success; otherwise `value` is untouched and the result is -6 key not
// found, -7 nothing follows the key's name. Growing `value` may throw.
int FindPerfDataValue(const char* view, std::size_t viewBytes, int reportedSize, const char* key, std::string& value);

// Offset of the first occurrence of `key` that leaves at least one byte of the
// buffer after it, or -1. Time linear in `size` plus the key's length, whatever
// the bytes; the key's table may throw for want of memory.
int FindInBuffer(const char* data, int size, const char* key);
// Offset of the byte after the NUL that ends the string starting at `offset`,
// or -1 when no such byte lies inside the buffer.
int NextStringOffset(const char* data, int size, int offset);
