#include "listing.h"

#include "debuglog.h"
#include "javacmd.h"
#include "namelist.h"
#include "settings.h"
#include "text.h"
#include "versioninfo.h"

#include <psapi.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD MAX_PROCESSES = 1024;
constexpr DWORD MAX_MODULES = 1024;

// The system's last error for a failed call, never 0: a failure must not read as success.
DWORD FailureCode()
{
    DWORD error = GetLastError();
    return error != 0 ? error : 1;
}

}  // namespace

void replaceAllDelims(char* record)
{
    LogTrace("replaceAllDelims");
    for (char* c = record; *c != '\0'; ++c) {
        if (*c == '$')
            *c = 'S';
    }
}

void AssembleRecord(char* record, const char* firstField, const char* description)
{
    // Keep room for two delimiters, the description, '$', the line end and the NUL.
    std::size_t tail = 2 + std::strlen(description) + 1 + 1 + 1;
    std::size_t firstFieldSize = RECORD_BUFFER_SIZE > tail ? RECORD_BUFFER_SIZE - tail + 1 : 1;
    record[0] = '\0';
    AppendBounded(record, firstFieldSize, firstField);
    AppendBounded(record, RECORD_BUFFER_SIZE, g_fieldDelimiter);
    AppendBounded(record, RECORD_BUFFER_SIZE, g_fieldDelimiter);
    AppendBounded(record, RECORD_BUFFER_SIZE, description);
}

int GetModuleInfo(const char* modulePath, char* record, DWORD processId)
{
    LogTrace("GetModuleInfo");
    if (_access(modulePath, 0) != 0) {
        LogMessage("%s: module not found", modulePath);
        return 1;
    }
    LogMessage("Processing module %s", modulePath);

    char version[PATH_BUFFER_SIZE] = {};
    char description[PATH_BUFFER_SIZE] = {};
    GetVersionInfo("FileVersion", version, modulePath, "unknown_version");
    GetVersionInfo("FileDescription", description, modulePath, "unknown_description");

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
    AppendBounded(record, RECORD_BUFFER_SIZE - 1, "$");
    return 0;
}

DWORD GetProcessInfo(DWORD processId, char* record)
{
    LogTrace("GetProcessInfo");
    LogMessage("GetProcessInfo started (Process ID = %d)", static_cast<int>(processId));

    HMODULE modules[MAX_MODULES] = {};
    DWORD moduleBytes = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) {
        DWORD error = FailureCode();
        LogMessage("OpenProcess failed");
        return error;
    }

    char modulePath[PATH_BUFFER_SIZE] = {};
    if (!EnumProcessModules(process, modules, sizeof modules, &moduleBytes) || moduleBytes < sizeof(HMODULE)) {
        DWORD error = FailureCode();
        LogMessage("EnumProcessModules failed");
        CloseHandle(process);
        return error;
    }

    // The first module is the process's executable.
    if (GetModuleFileNameExA(process, modules[0], modulePath, PATH_BUFFER_SIZE) == 0) {
        LogMessage("GetModuleFileNameEx failed, trying QueryFullProcessImageName...");
        DWORD pathSize = PATH_BUFFER_SIZE;
        if (!QueryFullProcessImageNameA(process, 0, modulePath, &pathSize)) {
            DWORD error = FailureCode();
            CloseHandle(process);
            return error;
        }
    }
    GetLongPathNameA(modulePath, modulePath, PATH_BUFFER_SIZE);

    DWORD result = static_cast<DWORD>(GetModuleInfo(modulePath, record, processId));
    CloseHandle(process);
    return result;
}

int GetProcessesData(char* record, const char* outputPath)
{
    LogTrace("GetProcessesData");
    DWORD processIds[MAX_PROCESSES] = {};
    // A name list read from the input file replaces the running processes.
    std::size_t nameCount = GetNameCount();
    bool listMode = nameCount > 0;

    FILE* output = std::fopen(outputPath, "w");
    if (output == nullptr) {
        LogMessage("Failed to open output process list file: nError %d", errno);
        return 0;
    }

    std::size_t count = nameCount;
    if (!listMode) {
        DWORD returnedBytes = 0;
        if (!EnumProcesses(processIds, sizeof processIds, &returnedBytes)) {
            LogMessage("Failed to enumerate processes");
            std::fclose(output);
            return 0;
        }
        count = returnedBytes / sizeof(DWORD);
    }
    DWORD ownId = GetCurrentProcessId();

    for (std::size_t i = 0; i < count; ++i) {
        std::memset(record, 0, RECORD_BUFFER_SIZE);
        // In list mode no process is opened: the listed file itself is
        // described, with process id 0. A list may hold more names than the
        // id table has entries, so the table is read in enumeration mode only.
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
                std::fputs(record, output);
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
    std::fclose(output);
    return 0;
}
