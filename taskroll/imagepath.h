#pragma once
// The path of a running process's executable, as the kernel records it, in
// the ANSI code page that the records are written in.
#include "handles.h"

#include <windows.h>

// Opens the process into `process` (kept open by the caller until its record
// is built: the Java lookup asks it for the owner, and it keeps the id from
// being reused meanwhile) and finds its executable's path (PATH_BUFFER_SIZE
// units): 0, or the error code of the first failure.
DWORD FindExecutablePath(DWORD processId, handles::ProcessHandle* process, wchar_t* path);
// The ANSI path for the image path `path` (PATH_BUFFER_SIZE bytes): short
// names expanded, and the short form where the code page cannot hold the long one.
void GetAnsiModulePath(const wchar_t* path, char* modulePath);
