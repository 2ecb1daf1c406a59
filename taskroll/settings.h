#pragma once
// Sizes shared by the parts of TaskRoll, and the run-wide settings that the
// driver sets while it reads the command line and that the listing reads.
#include <cstddef>

constexpr std::size_t PATH_BUFFER_SIZE = 260;      // MAX_PATH, NUL included
constexpr std::size_t RECORD_BUFFER_SIZE = 32768;  // one process record, NUL included

// The field delimiter in force: one byte and its NUL. Tab unless /delim: chose another.
extern char g_fieldDelimiter[2];
