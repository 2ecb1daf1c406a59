#pragma once
// The Java command of a process run by javaw.exe, read from the performance-data
// file that a running Java virtual machine keeps in a temporary directory for
// its process: TaskRoll's own TEMP first, then the places of the process's owner.
#include "perfdata.h"

#include <windows.h>

#include <string>

// The largest file searched for the command. Real performance-data files are
// tens of KiB; a bigger one is not searched, so that no user can make every
// inventory run slow with a huge (perhaps sparse) file.
constexpr long long PERF_DATA_MAX_BYTES = 4LL << 20;
// The bytes searched for one process across all the files that may hold its
// command, its owner's places included: four files at the bound above, or
// hundreds of real ones. A user who plants hundreds of big files where their
// own process's file may lie makes only that lookup stop early, after some
// milliseconds of searching at memory speed, never the run slow. At least one
// file at the bound, so that the first one looked at is always read.
constexpr long long PERF_DATA_LOOKUP_BYTES = 4 * PERF_DATA_MAX_BYTES;
static_assert(PERF_DATA_LOOKUP_BYTES >= PERF_DATA_MAX_BYTES, "the first file must always fit");

// Replaces `command` by the Java command found for the process. Every failure
// leaves `command` as it was; growing a string may throw (out of memory).
// `process` is an open handle to it, with at least limited query access, that
// also keeps its id from being reused meanwhile; with none (list mode) only
// TaskRoll's own TEMP is searched.
void GetJavaCommandLine(DWORD processId, std::string& command, HANDLE process = nullptr);

// "<TEMP>\hsperfdata_<user name>\" (the process id is appended to it), or
// empty when the user name cannot be read or TEMP is not set: no lookup then.
std::string GetPerfDataDir();

// Copies the string that follows the NUL-terminated name holding `key` into
// `value`. 0 on success; otherwise `value` is untouched and the result is
// -1 file not opened, -2 size not read, -3 file larger than PERF_DATA_MAX_BYTES,
// -4 mapping not created (an empty file), -5 view not mapped,
// -6 key not found, -7 nothing follows the key's name,
// -8 not a plain disk file (a pipe, a device, a directory, a reparse point).
int ReadPerfDataValue(const std::string& filePath, const std::string& key, std::string& value);
