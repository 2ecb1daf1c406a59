#pragma once
// Bounded copies into fixed character buffers. The one rule for every buffer
// of TaskRoll: a text that does not fit is cut to the first size - 1 bytes, and
// the buffer always ends in a NUL. The result tells whether the text fit whole.
#include <cstddef>

bool CopyBounded(char* destination, std::size_t destinationSize, const char* source);
bool AppendBounded(char* destination, std::size_t destinationSize, const char* source);
