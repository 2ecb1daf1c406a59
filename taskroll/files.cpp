#include "files.h"

#include "pathplace.h"

#include <io.h>

#include <cstdint>
#include <cwchar>

#include <utility>

namespace {

HANDLE OpenWithoutAccess(const char* path)
{
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

HANDLE OpenWithoutAccess(const wchar_t* path)
{
    return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool Exists(const char* path) { return _access(path, 0) == 0; }
bool Exists(const wchar_t* path) { return _waccess(path, 0) == 0; }

// An open without any access right asks a device nothing, blocks on nothing,
// and tells its type; it also tells that the path exists, so the existence
// test is made only when the open fails.
template <typename Char>
FileKind CheckKind(const Char* path, handles::FileHandle* opened)
{
    opened->Reset();
    handles::FileHandle file(OpenWithoutAccess(path));
    if (!file) {
        DWORD error = GetLastError();
        if (!Exists(path))
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

// The type of the drive with the letter `drive`: a run asks it for every
// process's image. A fixed disk, a RAM disk or an optical drive stays what it
// is while a run lasts, and is asked once; any other letter is asked each
// time, since it may be mapped to a share meanwhile.
UINT DriveTypeOfLetter(char drive)
{
    static UINT known[26] = {};  // 0: not asked yet, or of a type asked each time
    const unsigned index = static_cast<unsigned>((drive | 0x20) - 'a');
    if (index < 26 && known[index] != 0)
        return known[index];
    const wchar_t root[] = {static_cast<wchar_t>(drive), L':', L'\\', L'\0'};
    const UINT type = GetDriveTypeW(root);
    if (index < 26 && (type == DRIVE_FIXED || type == DRIVE_RAMDISK || type == DRIVE_CDROM))
        known[index] = type;
    return type;
}

// A mapped share is remote; a drive that is not there, or of a type not
// known, is not known to be local.
bool MayOpenOn(const PathReach& reach)
{
    DriveKind kind = DRIVE_KIND_UNKNOWN;
    if (reach.place == PATH_PLACE_DRIVE) {
        const UINT type = DriveTypeOfLetter(reach.drive);
        if (type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_CDROM || type == DRIVE_RAMDISK)
            kind = DRIVE_KIND_LOCAL;
        else if (type == DRIVE_REMOTE)
            kind = DRIVE_KIND_REMOTE;
    }
    return MayOpenPath(reach, kind);
}

}  // namespace

bool IsOnLocalVolume(const char* path)
{
    return MayOpenOn(ReachOfPath(std::string(path)));
}

bool IsOnLocalVolume(const wchar_t* path)
{
    return MayOpenOn(ReachOfPath(reinterpret_cast<const std::uint16_t*>(path), std::wcslen(path)));
}

FileKind CheckFileKind(const char* path, handles::FileHandle* opened)
{
    return CheckKind(path, opened);
}

FileKind CheckFileKind(const wchar_t* path, handles::FileHandle* opened)
{
    return CheckKind(path, opened);
}

FileKind CheckFileKind(const char* path)
{
    handles::FileHandle opened;
    return CheckFileKind(path, &opened);
}
