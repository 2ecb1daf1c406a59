#include "listing.h"

#include "debuglog.h"
#include "files.h"
#include "javacmd.h"
#include "namelist.h"
#include "record.h"
#include "settings.h"
#include "text.h"
#include "versioninfo.h"

#include <psapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// The executable's path in the ANSI code page that every later step works in.
// A path the code page cannot hold (a profile named in Cyrillic on a Western
// machine) takes its short form, which is ASCII where the volume keeps short
// names, and is not expanded back. Without one, the lossy form stands and the
// file is then not found.
void GetAnsiModulePath(const wchar_t* path, char* modulePath)
{
    if (ToAnsi(path, modulePath)) {
        // Only a path with a short name in it needs expanding, and a short
        // name that differs from its long one has a "~" (the system makes
        // them so); asking the file system about every directory of every
        // path would cost more than all the rest of a record.
        if (std::strchr(modulePath, '~') != nullptr) {
            NativeView view = BeginNativeView();
            GetLongPathNameA(modulePath, modulePath, PATH_BUFFER_SIZE);
            EndNativeView(view);
        }
        return;
    }
    wchar_t shortPath[PATH_BUFFER_SIZE] = {};
    NativeView view = BeginNativeView();
    DWORD length = GetShortPathNameW(path, shortPath, PATH_BUFFER_SIZE);
    EndNativeView(view);
    if (length > 0 && length < PATH_BUFFER_SIZE && ToAnsi(shortPath, modulePath)) {
        LogMessage("%s: the full path is outside the ANSI code page; its short path is used", modulePath);
        return;
    }
    std::memset(modulePath, 0, PATH_BUFFER_SIZE);
    WideCharToMultiByte(CP_ACP, 0, path, -1, modulePath, static_cast<int>(PATH_BUFFER_SIZE) - 1, nullptr, nullptr);
    LogMessage("%s: the path is outside the ANSI code page and has no short path", modulePath);
}

// The image path as the process tells it to a handle with limited access.
bool QueryImagePath(HANDLE process, wchar_t* path)
{
    DWORD size = PATH_BUFFER_SIZE;
    return QueryFullProcessImageNameW(process, 0, path, &size) != 0;
}

}  // namespace

void replaceAllDelims(char* record)
{
    LogTrace("replaceAllDelims");
    ReplaceRecordDelims(record);
}

void AssembleRecord(char* record, const char* firstField, const char* description)
{
    AssembleRecordText(record, RECORD_BUFFER_SIZE, firstField, g_fieldDelimiter, description, AnsiLeadBytes());
}

int GetModuleInfo(const char* modulePath, char* record, DWORD processId)
{
    LogTrace("GetModuleInfo");
    NativeView view = BeginNativeView();
    FileKind file = CheckFileKind(modulePath);
    EndNativeView(view);
    if (file == FILE_NOT_ON_DISK)
        LogMessage("%s: not a file on disk (a device or a pipe); it is not read", modulePath);
    if (file != FILE_ON_DISK) {
        LogMessage("%s: module not found", modulePath);
        return 1;
    }
    LogMessage("Processing module %s", modulePath);

    // One read of the resource serves both strings.
    VersionResource resource;
    view = BeginNativeView();
    ReadVersionResource(modulePath, &resource);
    EndNativeView(view);
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
            GetJavaCommandLine(processId, javaCommand);
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

    wchar_t path[PATH_BUFFER_SIZE] = {};
    DWORD error = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) {
        error = FailureCode();
        LogMessage("OpenProcess failed");
    } else if (GetModuleFileNameExW(process, nullptr, path, PATH_BUFFER_SIZE) == 0) {
        // The executable's path, asked for directly: the module list is read
        // only when that fails, to tell the two failures apart as the log
        // always has. Reading the whole list for every process would cost a
        // walk through all its modules.
        HMODULE modules[MAX_MODULES] = {};
        DWORD moduleBytes = 0;
        if (!EnumProcessModules(process, modules, sizeof modules, &moduleBytes) || moduleBytes < sizeof(HMODULE)) {
            error = FailureCode();
            LogMessage("EnumProcessModules failed");
        } else if (GetModuleFileNameExW(process, modules[0], path, PATH_BUFFER_SIZE) == 0) {
            // The first module is the process's executable.
            LogMessage("GetModuleFileNameEx failed, trying QueryFullProcessImageName...");
            if (!QueryImagePath(process, path)) {
                error = FailureCode();
                CloseHandle(process);
                return error;
            }
        }
    }

    if (error != 0) {
        // Without the right to read its memory (another user's process, a
        // service, a protected process) or its modules (a 64-bit process seen
        // from the 32-bit build), a process still tells its image path to a
        // handle with limited access; the handle already open has that access.
        LogMessage("Reading the executable path with limited access (Process ID = %d)", static_cast<int>(processId));
        HANDLE limited =
            process != nullptr ? process : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        bool found = limited != nullptr && QueryImagePath(limited, path);
        if (limited != nullptr && limited != process)
            CloseHandle(limited);
        if (!found) {
            if (process != nullptr)
                CloseHandle(process);
            return error;
        }
    }

    char modulePath[PATH_BUFFER_SIZE] = {};
    GetAnsiModulePath(path, modulePath);
    DWORD result = 0;
    try {
        result = static_cast<DWORD>(GetModuleInfo(modulePath, record, processId));
    } catch (...) {
        if (process != nullptr)
            CloseHandle(process);
        throw;
    }
    if (process != nullptr)
        CloseHandle(process);
    return result;
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

int GetProcessesData(char* record, const char* outputPath)
{
    LogTrace("GetProcessesData");
    // A name list read from the input file replaces the running processes.
    std::size_t nameCount = GetNameCount();
    bool listMode = nameCount > 0;

    FILE* output = std::fopen(outputPath, "w");
    if (output == nullptr) {
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
    // Standard output repeats the last record written, and this one was not.
    if (outcome != RUN_LISTED)
        std::memset(record, 0, RECORD_BUFFER_SIZE);
    return outcome;
}
