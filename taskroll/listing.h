#pragma once
// The listing: one process record per running process, written to processes.dat.
#include <windows.h>

// Always 0; failures are logged and the listing goes on with the next process.
int GetProcessesData(char* record, const char* outputPath);
// 0 when a record was built into `record`; otherwise a nonzero error code.
DWORD GetProcessInfo(DWORD processId, char* record);
// 0 when a record was built into `record`; 1 when the module file does not exist.
int GetModuleInfo(const char* modulePath, char* record, DWORD processId);
// Replaces every '$' of the record by 'S', so that the record's own '$' ends it.
void replaceAllDelims(char* record);

// Builds "first<delim><delim>description" into the record buffer. The first
// field is cut when the whole record, with its '$', line end and NUL, would not
// fit RECORD_BUFFER_SIZE.
void AssembleRecord(char* record, const char* firstField, const char* description);
