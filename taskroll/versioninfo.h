#pragma once
// Strings from the version resource of a module file.

// Reads the string table entry `name` of the file's version resource into
// `output` (PATH_BUFFER_SIZE bytes), or the default text when there is none.
// Nonzero when the string was found.
int GetVersionInfo(const char* name, char* output, const char* path, const char* defaultText);

// Bounded printf into `buffer`; a text that does not fit is cut to size - 1
// characters. Returns the number of characters written, NUL excluded.
int FormatString(char* buffer, int size, const char* format, ...);
