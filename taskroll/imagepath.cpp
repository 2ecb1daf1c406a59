#include "imagepath.h"

#include "versionreader.h"

#include "debuglog.h"
#include "settings.h"
#include "text.h"

#include <psapi.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD MAX_MODULES = 1024;

// The system's last error for a failed call, never 0: a failure must not read as success.
DWORD FailureCode()
{
    DWORD error = GetLastError();
    return error != 0 ? error : 1;
}

// True when `path` converts to the ANSI code page without a character lost,
// in at most 259 bytes.
bool ToAnsi(const wchar_t* path, std::string* ansiPath)
{
    return ToAnsiLossless(path, ansiPath) && ansiPath->size() < PATH_BUFFER_SIZE;
}

// The image path as the process tells it to a handle with limited access.
bool QueryImagePath(HANDLE process, wchar_t* path)
{
    DWORD size = PATH_BUFFER_SIZE;
    return QueryFullProcessImageNameW(process, 0, path, &size) != 0;
}

}  // namespace

RecordPathForm GetRecordPath(const wchar_t* path, std::string* name)
{
    std::string ansi, shortAnsi;
    const bool fits = ToAnsi(path, &ansi);
    bool shortFits = false;
    if (!fits) {
        // Where the volume keeps no short names the short path is the long one.
        // Asked of the worker: the system looks up each folder on the path.
        std::wstring shortPath;
        shortFits = ExpandPathInWorker(path, true, &shortPath) && shortPath.size() < PATH_BUFFER_SIZE &&
                    ToAnsi(shortPath.c_str(), &shortAnsi);
    }
    const RecordPathForm form = ChooseRecordPath(fits, shortFits);
    if (form == RECORD_PATH_AS_IS) {
        name->swap(ansi);
    } else if (form == RECORD_PATH_SHORT) {
        name->swap(shortAnsi);
        LogMessage("%s: the full path is outside the ANSI code page; its short path is used", name->c_str());
    } else {
        *name = EscapedPath(reinterpret_cast<const std::uint16_t*>(path), std::wcslen(path));
        LogMessage("%s: the path is outside the ANSI code page and has no short path; the record writes each "
                   "character outside printable ASCII as <U+XXXX>, and the file is read through its Unicode path",
                   name->c_str());
    }
    return form;
}

// The executable's path in the ANSI code page that every later step works in.
// A short name is expanded in UTF-16 first: the ANSI expansion would write "?"
// for each character of a long name outside the code page, a file that does
// not exist. A path the code page cannot hold (a profile named in Cyrillic on
// a Western machine) then takes its record name from GetRecordPath.
RecordPathForm GetAnsiModulePath(const wchar_t* path, std::string* modulePath, wchar_t* longPath)
{
    // Only a path with a short name in it needs expanding, and a short name
    // that differs from its long one has a "~" (the system makes them so);
    // asking the file system about every directory of every path would cost
    // more than all the rest of a record.
    // The worker expands it: the system looks up each folder on the path.
    std::wstring expanded;
    if (std::wcschr(path, L'~') != nullptr && ExpandPathInWorker(path, false, &expanded) &&
        expanded.size() < PATH_BUFFER_SIZE)
        std::wcsncpy(longPath, expanded.c_str(), PATH_BUFFER_SIZE - 1);
    else
        std::wcsncpy(longPath, path, PATH_BUFFER_SIZE - 1);
    longPath[PATH_BUFFER_SIZE - 1] = L'\0';
    return GetRecordPath(longPath, modulePath);
}

bool PeekExecutablePath(DWORD processId, handles::ProcessHandle* process, wchar_t* path)
{
    process->Reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (*process && QueryImagePath(process->Get(), path))
        return true;
    process->Reset();
    return false;
}

// Opens the process into `process` and finds its executable's path: 0, or the
// error code of the first failure. The kernel's record of the image comes
// first: the loader's module list lies in the process's own memory, where any
// program can make its entry name another file (svchost.exe, say). The list
// is read only when the kernel cannot tell, with the log lines it always had.
DWORD FindExecutablePath(DWORD processId, handles::ProcessHandle* process, wchar_t* path)
{
    process->Reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!*process) {
        DWORD error = FailureCode();
        LogMessage("OpenProcess failed");
        // Without the right to read its memory (another user's process, a
        // service, a protected process), a process still tells its image path
        // to a handle with limited access.
        LogMessage("Reading the executable path with limited access (Process ID = %d)", static_cast<int>(processId));
        process->Reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        return *process && QueryImagePath(process->Get(), path) ? 0 : error;
    }
    if (QueryImagePath(process->Get(), path))
        return 0;
    HMODULE modules[MAX_MODULES] = {};
    DWORD moduleBytes = 0;
    if (!EnumProcessModules(process->Get(), modules, sizeof modules, &moduleBytes) || moduleBytes < sizeof(HMODULE)) {
        DWORD error = FailureCode();
        LogMessage("EnumProcessModules failed");
        return error;
    }
    if (GetModuleFileNameExW(process->Get(), modules[0], path, PATH_BUFFER_SIZE) != 0)
        return 0;  // the first module is the process's executable
    // The kernel's record was asked on this handle already; a handle of its
    // own, with limited access, is the one try left.
    DWORD error = FailureCode();
    LogMessage("GetModuleFileNameEx failed, trying QueryFullProcessImageName...");
    handles::ProcessHandle limited(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    return limited && QueryImagePath(limited.Get(), path) ? 0 : error;
}
