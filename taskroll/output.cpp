#include "output.h"

#include "handles.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>

namespace {

// The runtime's error number for a failed open, as fopen would have set it,
// for the log line that has always shown one.
int OpenErrorNumber(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EINVAL;
    }
}

}  // namespace

// Opens processes.dat for writing as fopen "w" would, but never through a
// planted link: a run as SYSTEM in a directory that users can write to would
// otherwise truncate whatever a symbolic link, a junction or a hard link of
// that name leads to. The open does not follow a reparse point, and the
// verdict is made on what the handle itself tells, so nothing can be swapped
// in between;
// only then is the file truncated and handed to a text-mode stream, which
// writes each "\n" as CR LF as before.
FILE* OpenOutputFile(const char* path, OutputRefusal* refusal)
{
    handles::FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD error = GetLastError();
    OutputFileFacts facts = {};
    facts.opened = static_cast<bool>(file);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (facts.opened) {
        facts.described = GetFileInformationByHandle(file.Get(), &info) != 0;
        // A file that opens but cannot be told is refused as fopen refuses access.
        error = facts.described ? GetLastError() : ERROR_ACCESS_DENIED;
    }
    if (facts.described) {
        facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        facts.links = info.nNumberOfLinks;
        facts.holdsBytes = info.nFileSizeHigh != 0 || info.nFileSizeLow != 0;
    }
    OutputVerdict verdict = JudgeOutputFile(facts);
    *refusal = verdict.refusal;
    if (verdict.failure == RUN_LISTED && verdict.truncate && !SetEndOfFile(file.Get())) {
        error = GetLastError();
        verdict.failure = RUN_OUTPUT_NOT_OPENED;
    }
    if (verdict.failure != RUN_LISTED) {
        errno = OpenErrorNumber(error);
        return nullptr;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_WRONLY | _O_TEXT);
    if (descriptor == -1)
        return nullptr;
    file.Release();  // the descriptor closes it from here on
    FILE* stream = _fdopen(descriptor, "w");
    if (stream == nullptr)
        _close(descriptor);
    return stream;
}
