#pragma once
// The name list: executable paths read from the /file: input file. A non-empty
// list makes the listing describe these paths instead of the running processes.
#include <cstddef>
#include <string>
#include <vector>

// Appends the names of the input file at `path`, one per line, in file order.
// Failures are logged; the names read before a failure stay in the list. The
// result is what standard error is to say of the reading (nothing for a list
// read whole, nor for an empty path: no list was given), each a cause that the
// driver writes with the list's path.
std::vector<std::string> GetTaskRollFromFile(const char* path);

std::size_t GetNameCount();
// The name at `index` (0-based, below GetNameCount()), in the ANSI code page.
const char* GetName(std::size_t index);
// The same name as listed, where the code page cannot hold it (GetName then
// gives its escaped form, see core/recordpath.h); null otherwise.
const wchar_t* GetUnicodeName(std::size_t index);
