#pragma once
// Sizes shared by the parts of TaskRoll, and the run-wide settings that the
// driver reads from the command line once and that the other parts read.
#include "cmdline.h"

#include <cstddef>

constexpr std::size_t PATH_BUFFER_SIZE = 260;      // MAX_PATH, NUL included
constexpr std::size_t RECORD_BUFFER_SIZE = 32768;  // one process record, NUL included
static_assert(INPUT_PATH_SIZE == PATH_BUFFER_SIZE, "the input file's path is a path");

// The command line's settings: the field delimiter in force (tab unless
// /delim: chose another), the input path, the flags.
extern TaskRollSettings g_settings;
