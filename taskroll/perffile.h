#pragma once
// A Java virtual machine's performance-data file: opened through no link,
// judged by what its handle says (core/perfdata decides), read when it passes.
// Called in the worker only (javaworker.cpp): these files are users'.
#include "perfdata.h"

#include <windows.h>

#include <string>

// Copies the string that follows the NUL-terminated name holding `key` into
// `value`: PERF_READ, or one of the other PerfDataResult codes (perfdata.h)
// with `value` untouched. With `owner`, the file lies where others can write
// and must be that SID's, SYSTEM's or the Administrators'. With `budget`, the
// open and the file's bytes count against the lookup's budget.
int ReadPerfDataFile(const std::string& filePath, const char* key, std::string& value, PSID owner,
                     PerfLookupBudget* budget);
