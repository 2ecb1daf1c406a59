#pragma once
// The Java command of a process run by javaw.exe, read from the performance-data
// file that a running Java virtual machine keeps in a temporary directory for
// its process: TaskRoll's own TEMP first, then the places of the process's owner.
#include <windows.h>

#include <string>

// Replaces `command` by the Java command found for the process. Every failure
// leaves `command` as it was; growing a string may throw (out of memory).
// `process` is an open handle to it, with at least limited query access, that
// also keeps its id from being reused meanwhile; with none (list mode) only
// TaskRoll's own TEMP is searched.
void GetJavaCommandLine(DWORD processId, std::string& command, HANDLE process = nullptr);
