#include "files.h"

#include <io.h>

#include <utility>

// An open without any access right asks a device nothing, blocks on nothing,
// and tells its type; it also tells that the path exists, so the existence
// test is made only when the open fails.
FileKind CheckFileKind(const char* path, handles::FileHandle* opened)
{
    opened->Reset();
    handles::FileHandle file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        if (_access(path, 0) != 0)
            return FILE_MISSING;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return FILE_ON_DISK;  // a file all the same, read as far as it can be
        return FILE_NOT_ON_DISK;  // a console without a console, a busy pipe
    }
    if (GetFileType(file.Get()) != FILE_TYPE_DISK)
        return FILE_NOT_ON_DISK;
    *opened = std::move(file);
    return FILE_ON_DISK;
}

FileKind CheckFileKind(const char* path)
{
    handles::FileHandle opened;
    return CheckFileKind(path, &opened);
}
