#pragma once
// Checks on the files TaskRoll reads, and the file-system view it reads the
// described executables in.
#include <windows.h>

enum FileKind {
    FILE_MISSING,      // nothing of that name
    FILE_NOT_ON_DISK,  // a device, a pipe, a console: never to be read
    FILE_ON_DISK,      // a file or a directory
};

// What `path` names, found without reading it: a device or a pipe answers a
// read only when it has data, maybe never.
FileKind CheckFileKind(const char* path);

// The 32-bit build on 64-bit Windows sees System32 through WOW64 redirection,
// that is SysWOW64, where a file of the same name is another program or none.
// Between these two calls the file system is seen as it is. Both do nothing
// in the 64-bit build and on 32-bit Windows.
struct NativeView {
    PVOID previous = nullptr;  // the system's token for the state to go back to; may be null
    bool redirectionOff = false;
};
NativeView BeginNativeView();
void EndNativeView(const NativeView& view);
