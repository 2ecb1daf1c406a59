#include "files.h"

#include <io.h>

// The file a record describes is the one the process runs, so its checks and
// reads see the native file system; every other file TaskRoll opens keeps the
// view it started with. Redirection is per thread, and TaskRoll has one.
PVOID BeginNativeView()
{
    PVOID previous = nullptr;
#if !defined(_WIN64)
    static const bool wow64 = [] {
        BOOL value = FALSE;
        return IsWow64Process(GetCurrentProcess(), &value) && value;
    }();
    if (wow64)
        Wow64DisableWow64FsRedirection(&previous);
#endif
    return previous;
}

void EndNativeView(PVOID previous)
{
#if !defined(_WIN64)
    if (previous != nullptr)
        Wow64RevertWow64FsRedirection(previous);
#else
    (void)previous;
#endif
}

// An open without any access right asks a device nothing, blocks on nothing,
// and tells its type; it also tells that the path exists, so the existence
// test is made only when the open fails.
FileKind CheckFileKind(const char* path)
{
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (_access(path, 0) != 0)
            return FILE_MISSING;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return FILE_ON_DISK;  // a file all the same, read as far as it can be
        return FILE_NOT_ON_DISK;  // a console without a console, a busy pipe
    }
    DWORD type = GetFileType(file);
    CloseHandle(file);
    return type == FILE_TYPE_DISK ? FILE_ON_DISK : FILE_NOT_ON_DISK;
}
