#include "files.h"

#include <io.h>

// The file a record describes is the one the process runs, so its checks and
// reads see the native file system; every other file TaskRoll opens keeps the
// view it started with. Redirection is per thread, and TaskRoll has one.
NativeView BeginNativeView()
{
    NativeView view;
#if !defined(_WIN64)
    static const bool wow64 = [] {
        BOOL value = FALSE;
        return IsWow64Process(GetCurrentProcess(), &value) && value;
    }();
    // The token handed back describes the earlier state and is null when
    // redirection was on, so only the call's result tells what to undo.
    if (wow64)
        view.redirectionOff = Wow64DisableWow64FsRedirection(&view.previous) != 0;
#endif
    return view;
}

void EndNativeView(const NativeView& view)
{
#if !defined(_WIN64)
    if (view.redirectionOff)
        Wow64RevertWow64FsRedirection(view.previous);
#else
    (void)view;
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
