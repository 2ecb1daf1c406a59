#pragma once
// The Java command of a process run by javaw.exe, read from the performance-data
// file that a running Java virtual machine keeps under TEMP for its process.
#include "perfdata.h"

#include <windows.h>

#include <string>

// Replaces `command` by the Java command found for the process. Every failure
// leaves `command` as it was; growing a string may throw (out of memory).
void GetJavaCommandLine(DWORD processId, std::string& command);

// "<TEMP>\hsperfdata_<user name>\" (the process id is appended to it), or
// empty when the user name cannot be read or TEMP is not set: no lookup then.
std::string GetPerfDataDir();

// Copies the string that follows the NUL-terminated name holding `key` into
// `value`. 0 on success; otherwise `value` is untouched and the result is
// -1 file not opened, -2 size not read, -3 file of 4 GiB or more,
// -4 mapping not created (an empty file), -5 view not mapped,
// -6 key not found, -7 nothing follows the key's name.
int ReadPerfDataValue(const std::string& filePath, const std::string& key, std::string& value);
