#include "listing.h"

#include "debuglog.h"
#include "files.h"
#include "javacmd.h"
#include "namelist.h"
#include "record.h"
#include "settings.h"
#include "text.h"
#include "versioninfo.h"
#include "versionreader.h"

#include <fcntl.h>
#include <io.h>
#include <psapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

namespace {

constexpr std::size_t PROCESS_TABLE_START = 1024;
constexpr DWORD MAX_MODULES = 1024;

// The system's last error for a failed call, never 0: a failure must not read as success.
DWORD FailureCode()
{
    DWORD error = GetLastError();
    return error != 0 ? error : 1;
}

// True when `path` converts to the ANSI code page without a character lost.
bool ToAnsi(const wchar_t* path, char* ansiPath)
{
    BOOL lossy = FALSE;
    bool utf8 = GetACP() == CP_UTF8;  // holds every character, and refuses the lossy-check arguments
    int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, path, -1, ansiPath,
                                     static_cast<int>(PATH_BUFFER_SIZE), nullptr, utf8 ? nullptr : &lossy);
    return length > 0 && !lossy;
}

}  // namespace

// The executable's path in the ANSI code page that every later step works in.
// A short name is expanded in UTF-16 first: the ANSI expansion would write "?"
// for each character of a long name outside the code page, a file that does
// not exist. A path the code page cannot hold (a profile named in Cyrillic on
// a Western machine) then takes its short form, which is ASCII where the
// volume keeps short names. Without one, the lossy form stands and the file is
// then not found.
void GetAnsiModulePath(const wchar_t* path, char* modulePath)
{
    // Only a path with a short name in it needs expanding, and a short name
    // that differs from its long one has a "~" (the system makes them so);
    // asking the file system about every directory of every path would cost
    // more than all the rest of a record.
    wchar_t longPath[PATH_BUFFER_SIZE] = {};
    const wchar_t* full = path;
    if (std::wcschr(path, L'~') != nullptr) {
        handles::NativeViewScope native;
        DWORD length = GetLongPathNameW(path, longPath, PATH_BUFFER_SIZE);
        if (length > 0 && length < PATH_BUFFER_SIZE)
            full = longPath;
    }
    if (ToAnsi(full, modulePath))
        return;
    wchar_t shortPath[PATH_BUFFER_SIZE] = {};
    handles::NativeViewScope native;
    DWORD length = GetShortPathNameW(full, shortPath, PATH_BUFFER_SIZE);
    native.End();
    if (length > 0 && length < PATH_BUFFER_SIZE && ToAnsi(shortPath, modulePath)) {
        LogMessage("%s: the full path is outside the ANSI code page; its short path is used", modulePath);
        return;
    }
    std::memset(modulePath, 0, PATH_BUFFER_SIZE);
    WideCharToMultiByte(CP_ACP, 0, full, -1, modulePath, static_cast<int>(PATH_BUFFER_SIZE) - 1, nullptr, nullptr);
    LogMessage("%s: the path is outside the ANSI code page and has no short path", modulePath);
}

namespace {

// The image path as the process tells it to a handle with limited access.
bool QueryImagePath(HANDLE process, wchar_t* path)
{
    DWORD size = PATH_BUFFER_SIZE;
    return QueryFullProcessImageNameW(process, 0, path, &size) != 0;
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

}  // namespace

void replaceAllDelims(char* record)
{
    LogTrace("replaceAllDelims");
    ReplaceRecordDelims(record);
}

void AssembleRecord(char* record, const char* firstField, const char* description)
{
    AssembleRecordText(record, RECORD_BUFFER_SIZE, firstField, g_settings.fieldDelimiter, description,
                       AnsiLeadBytes());
}

int GetModuleInfo(const char* modulePath, char* record, DWORD processId, HANDLE process)
{
    LogTrace("GetModuleInfo");
    handles::NativeViewScope native;
    FileKind file = CheckFileKind(modulePath);
    native.End();
    // A relative name is checked in the current directory; the system's
    // version functions would look for it along the module search path, which
    // starts in TaskRoll's own directory, and describe another file. So they
    // are given the full path of the file that was checked.
    char filePath[PATH_BUFFER_SIZE] = {};
    DWORD fullLength = GetFullPathNameA(modulePath, PATH_BUFFER_SIZE, filePath, nullptr);
    if (fullLength == 0 || fullLength >= PATH_BUFFER_SIZE)
        file = FILE_MISSING;
    if (file == FILE_NOT_ON_DISK)
        LogMessage("%s: not a file on disk (a device or a pipe); it is not read", modulePath);
    if (file != FILE_ON_DISK) {
        LogMessage("%s: module not found", modulePath);
        return 1;
    }
    LogMessage("Processing module %s", modulePath);

    // One read of the resource serves both strings.
    VersionResource resource;
    ReadVersionResource(filePath, &resource);
    char version[PATH_BUFFER_SIZE] = {};
    char description[PATH_BUFFER_SIZE] = {};
    GetVersionInfo("FileVersion", version, modulePath, resource, "unknown_version");
    GetVersionInfo("FileDescription", description, modulePath, resource, "unknown_description");

    // A Java program shows its Java command instead of the launcher's path;
    // without a command (no file, no value, an empty one) the path stays, so
    // that no record has an empty first field.
    const char* firstField = modulePath;
    std::string javaCommand;
    if (std::strstr(modulePath, "javaw.exe") != nullptr) {
        LogMessage("Java processing");
        try {
            GetJavaCommandLine(processId, javaCommand, process);
            if (!javaCommand.empty())
                firstField = javaCommand.c_str();
        } catch (...) {
            LogMessage("Java processing: exception caught");
        }
    }

    AssembleRecord(record, firstField, description);
    replaceAllDelims(record);
    EndRecord(record, RECORD_BUFFER_SIZE);
    return 0;
}

DWORD GetProcessInfo(DWORD processId, char* record)
{
    LogTrace("GetProcessInfo");
    LogMessage("GetProcessInfo started (Process ID = %d)", static_cast<int>(processId));

    // The handle stays open until the record is built: the Java lookup asks it
    // for the process's owner, and it keeps the id from being reused meanwhile.
    handles::ProcessHandle process;
    wchar_t path[PATH_BUFFER_SIZE] = {};
    DWORD error = FindExecutablePath(processId, &process, path);
    if (error != 0)
        return error;
    char modulePath[PATH_BUFFER_SIZE] = {};
    GetAnsiModulePath(path, modulePath);
    return static_cast<DWORD>(GetModuleInfo(modulePath, record, processId, process.Get()));
}

bool EnumerateProcessIds(std::vector<DWORD>* processIds, std::size_t initialCount)
{
    std::vector<DWORD> table(initialCount > 0 ? initialCount : 1);
    for (;;) {
        DWORD tableBytes = static_cast<DWORD>(table.size() * sizeof(DWORD));
        DWORD returnedBytes = 0;
        if (!EnumProcesses(table.data(), tableBytes, &returnedBytes))
            return false;
        // A full table may have cut the list short; only a table with room to spare holds it all.
        if (returnedBytes < tableBytes) {
            table.resize(returnedBytes / sizeof(DWORD));
            processIds->swap(table);
            return true;
        }
        table.assign(table.size() * 2, 0);
    }
}

int GetProcessesData(char* record, const char* outputPath, OutputRefusal* refusal)
{
    LogTrace("GetProcessesData");
    // A name list read from the input file replaces the running processes.
    std::size_t nameCount = GetNameCount();
    bool listMode = nameCount > 0;

    OutputRefusal reason = OUTPUT_OPEN_FAILED;
    FILE* output = OpenOutputFile(outputPath, &reason);
    if (refusal != nullptr)
        *refusal = reason;
    if (output == nullptr) {
        if (reason == OUTPUT_IS_REPARSE_POINT)
            LogMessage("Output process list file is a link (a reparse point); it is not written");
        else if (reason == OUTPUT_HAS_LINKS)
            LogMessage("Output process list file has other hard links; it is not written");
        else
            LogMessage("Failed to open output process list file: nError %d", errno);
        return RUN_OUTPUT_NOT_OPENED;
    }

    std::vector<DWORD> processIds;
    std::size_t count = nameCount;
    if (!listMode) {
        bool enumerated = false;
        try {
            enumerated = EnumerateProcessIds(&processIds, PROCESS_TABLE_START);
        } catch (...) {
            // Out of memory, or a table beyond the largest vector (length_error).
        }
        if (!enumerated) {
            LogMessage("Failed to enumerate processes");
            std::fclose(output);
            return RUN_ENUMERATION_FAILED;
        }
        count = processIds.size();
    }
    DWORD ownId = GetCurrentProcessId();

    // The record buffer is cleared for every item, also for one that is then
    // skipped or fails; the last record written is kept aside for standard output.
    std::string lastWritten;
    int outcome = RUN_LISTED;
    for (std::size_t i = 0; i < count && outcome == RUN_LISTED; ++i) {
        std::memset(record, 0, RECORD_BUFFER_SIZE);
        // In list mode no process is opened: the listed file itself is
        // described, with process id 0.
        const char* name = listMode ? GetName(i) : nullptr;
        DWORD processId = listMode ? 0 : processIds[i];
        if (!listMode && processId == ownId) {
            LogMessage("Skipping current process (ID = %d)", static_cast<int>(ownId));
            continue;
        }
        if (!listMode && IsVersionReaderProcess(processId)) {
            LogMessage("Skipping the version reader process (ID = %d)", static_cast<int>(processId));
            continue;
        }
        try {
            DWORD result = listMode ? static_cast<DWORD>(GetModuleInfo(name, record, 0))
                                    : GetProcessInfo(processId, record);
            if (result == 0) {
                AppendBounded(record, RECORD_BUFFER_SIZE, "\n");
                // A failed write (a full disk) ends the listing: what follows
                // could not be written either, and the file is incomplete.
                if (std::fputs(record, output) < 0) {
                    LogMessage("Failed to write output process list file: nError %d", errno);
                    outcome = RUN_OUTPUT_NOT_WRITTEN;
                } else {
                    lastWritten.assign(record);
                }
            } else if (listMode) {
                LogMessage("GetProcessInfo failed (Process Name = %s)", name);
            } else {
                LogMessage("GetProcessInfo failed (Process ID = %d, Error Code = %d)", static_cast<int>(processId),
                           static_cast<int>(result));
            }
        } catch (...) {
            // A half-built record must not reach standard output at the end of the run.
            std::memset(record, 0, RECORD_BUFFER_SIZE);
            if (listMode)
                LogMessage("GetProcessInfo generated exception (Process Name = %s)", name);
            else
                LogMessage("GetProcessInfo generated exception (Process ID = %d)", static_cast<int>(processId));
        }
    }
    // The last records may still sit in the stream's buffer: only the close
    // tells whether they reached the disk.
    if (std::fclose(output) != 0 && outcome == RUN_LISTED) {
        LogMessage("Failed to write output process list file: nError %d", errno);
        outcome = RUN_OUTPUT_NOT_WRITTEN;
    }
    // Standard output repeats the last record written; after a failed write
    // there is none that reached the file whole.
    std::memset(record, 0, RECORD_BUFFER_SIZE);
    if (outcome == RUN_LISTED)
        CopyBounded(record, RECORD_BUFFER_SIZE, lastWritten.c_str());
    return outcome;
}
