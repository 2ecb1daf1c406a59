#pragma once
// The path of a running process's executable, as the kernel records it, in
// the ANSI code page that the records are written in.
#include "handles.h"
#include "recordpath.h"

#include <windows.h>

#include <string>

// Opens the process into `process` (kept open by the caller until its record
// is built: the Java lookup asks it for the owner, and it keeps the id from
// being reused meanwhile) and finds its executable's path (PATH_BUFFER_SIZE
// units): 0, or the error code of the first failure.
DWORD FindExecutablePath(DWORD processId, handles::ProcessHandle* process, wchar_t* path);
// The same where it takes no log line: the process opened with every right
// the listing asks for, and the kernel's record of its image. False (and
// `process` empty) where that does not serve; FindExecutablePath then says why.
bool PeekExecutablePath(DWORD processId, handles::ProcessHandle* process, wchar_t* path);
// How a record names the file at `path` (UTF-16): the path itself where the
// ANSI code page holds it, else its short path or, where no ANSI path can name
// the file, its escaped form (core/recordpath.h), logged. Unless the form is
// RECORD_PATH_AS_IS, the file is checked and read through `path`.
RecordPathForm GetRecordPath(const wchar_t* path, std::string* name);
// The ANSI path for the image path `path`: short names expanded into
// `longPath` (PATH_BUFFER_SIZE units), then named by GetRecordPath.
RecordPathForm GetAnsiModulePath(const wchar_t* path, std::string* modulePath, wchar_t* longPath);
