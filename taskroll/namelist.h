#pragma once
// The name list: executable paths read from the /file: input file. A non-empty
// list makes the listing describe these paths instead of the running processes.
#include <cstddef>

// Appends the names of the input file at `path`, one per line, in file order.
// Failures are logged; the names read before a failure stay in the list.
void GetTaskRollFromFile(const char* path);

std::size_t GetNameCount();
// The name at `index` (0-based, below GetNameCount()).
const char* GetName(std::size_t index);
