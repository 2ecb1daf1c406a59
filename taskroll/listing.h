#pragma once
// The listing: one process record per running process, written to processes.dat.
#include "outputfile.h"

#include <windows.h>

#include <cstddef>
#include <vector>

// Writes the listing to `outputPath`. RUN_LISTED when it was written, even if
// single processes could not be read (they are logged); otherwise what made
// the listing fail, and for RUN_OUTPUT_NOT_OPENED also why in `refusal`.
// After a failed write the record buffer is empty.
int GetProcessesData(char* record, const char* outputPath, OutputRefusal* refusal = nullptr);
// 0 when a record was built into `record`; otherwise a nonzero error code.
DWORD GetProcessInfo(DWORD processId, char* record);
// 0 when a record was built into `record`; 1 when the module file does not exist.
// `process` is the open process (none in list mode), for the Java lookup.
int GetModuleInfo(const char* modulePath, char* record, DWORD processId, HANDLE process = nullptr);
// The ANSI path for the image path `path` (PATH_BUFFER_SIZE bytes): short
// names expanded, and the short form where the code page cannot hold the long one.
void GetAnsiModulePath(const wchar_t* path, char* modulePath);
// Replaces every '$' of the record by 'S', so that the record's own '$' ends
// it, and every CR and LF by a space, so that a record stays one line.
void replaceAllDelims(char* record);

// Builds "first<delim><delim>description" into the record buffer. The first
// field is cut when the whole record, with its '$', line end and NUL, would not
// fit RECORD_BUFFER_SIZE.
void AssembleRecord(char* record, const char* firstField, const char* description);

// The ids of the running processes, in the system's order. The table starts
// with `initialCount` entries and doubles until the system leaves part of it
// unused, so no process is cut off. False when the enumeration fails.
bool EnumerateProcessIds(std::vector<DWORD>* processIds, std::size_t initialCount);
