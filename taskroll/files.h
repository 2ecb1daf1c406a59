#pragma once
// Checks on the files TaskRoll reads, and the file-system view it reads the
// described executables in.
#include <windows.h>

#include "handles.h"

enum FileKind {
    FILE_MISSING,      // nothing of that name
    FILE_NOT_ON_DISK,  // a device, a pipe, a console: never to be read
    FILE_ON_DISK,      // a file or a directory
};

// What `path` names, found without reading it: a device or a pipe answers a
// read only when it has data, maybe never.
FileKind CheckFileKind(const char* path);

// The same check, keeping its open of a file on disk in `opened` (empty
// otherwise): an open without access rights, which the later reads of the
// file reopen, so that they read the file that was checked and need not ask
// again what it is.
FileKind CheckFileKind(const char* path, handles::FileHandle* opened);
// The same for a path the ANSI code page cannot hold.
FileKind CheckFileKind(const wchar_t* path, handles::FileHandle* opened);

// Whether a file on `path` may be opened at all: only where the path is known
// to lead to a local volume (core/pathplace.h), one on a drive letter by the
// drive's type. No file is opened to tell it; the system is asked only the
// drive's type.
bool IsOnLocalVolume(const char* path);
bool IsOnLocalVolume(const wchar_t* path);

// The file a record describes is the one the process runs, so its checks and
// reads see the native file system through handles::NativeViewScope; every
// other file TaskRoll opens keeps the view it started with.
