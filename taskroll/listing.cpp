#include "listing.h"

#include "debuglog.h"
#include "files.h"
#include "imagepath.h"
#include "internal.h"
#include "javacmd.h"
#include "namelist.h"
#include "output.h"
#include "record.h"
#include "settings.h"
#include "text.h"
#include "versioninfo.h"
#include "versionreader.h"

#include <psapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr std::size_t PROCESS_TABLE_START = 1024;

// Replaces every '$' of the record by 'S', so that the record's own '$' ends
// it, and every CR and LF by a space, so that a record stays one line.
void replaceAllDelims(char* record)
{
    LogTrace("replaceAllDelims");
    ReplaceRecordDelims(record);
}

// Builds "first<delim><delim>description" into the record buffer. The first
// field is cut when the whole record, with its '$', line end and NUL, would not
// fit RECORD_BUFFER_SIZE.
void AssembleRecord(char* record, const char* firstField, const char* description)
{
    AssembleRecordText(record, RECORD_BUFFER_SIZE, firstField, g_settings.fieldDelimiter, description,
                       AnsiLeadBytes());
}

// Builds the record of `modulePath` with `description` into `record`.
// `process` is the open process (none in list mode), for the Java lookup.
void BuildRecord(const char* modulePath, const char* description, char* record, DWORD processId, HANDLE process)
{
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
}

// 0 when a record was built into `record`; 1 when the module file does not exist.
// `process` is the open process (none in list mode), for the Java lookup.
// `unicodePath`, where given, is the path the file is checked and read by,
// one the ANSI code page cannot hold: `modulePath` then only names it.
int GetModuleInfo(const char* modulePath, char* record, DWORD processId, HANDLE process = nullptr,
                  const wchar_t* unicodePath = nullptr)
{
    LogTrace("GetModuleInfo");
    // A relative name is checked in the current directory; the system's
    // version functions would look for it along the module search path, which
    // starts in TaskRoll's own directory, and describe another file. So the
    // worker is given the full path of the file.
    char filePath[PATH_BUFFER_SIZE] = {};
    wchar_t unicodeFile[PATH_BUFFER_SIZE] = {};
    DWORD fullLength = unicodePath != nullptr ? GetFullPathNameW(unicodePath, PATH_BUFFER_SIZE, unicodeFile, nullptr)
                                              : GetFullPathNameA(modulePath, PATH_BUFFER_SIZE, filePath, nullptr);
    const char* logPath = unicodePath != nullptr ? modulePath : filePath;
    ModuleFile file;
    if (fullLength == 0 || fullLength >= PATH_BUFFER_SIZE)
        file.kind = FILE_MISSING;
    else
        AskModuleFile(filePath, unicodePath != nullptr ? unicodeFile : nullptr, logPath, &file);
    if (file.kind == FILE_NOT_ON_DISK)
        LogMessage("%s: not a file on disk (a device or a pipe); it is not read", modulePath);
    if (file.kind != FILE_ON_DISK) {
        LogMessage("%s: module not found", modulePath);
        return 1;
    }
    LogMessage("Processing module %s", modulePath);

    // One read of the resource serves both strings.
    LogModuleFile(logPath, file);
    char version[PATH_BUFFER_SIZE] = {};
    char description[PATH_BUFFER_SIZE] = {};
    GetVersionInfo("FileVersion", version, modulePath, file.resource, "unknown_version");
    GetVersionInfo("FileDescription", description, modulePath, file.resource, "unknown_description");

    BuildRecord(modulePath, description, record, processId, process);
    return 0;
}

// A process whose image the lookahead found: its handle and path, taken by
// its record in place of opening it again.
struct PeekedProcess {
    DWORD processId = 0;
    handles::ProcessHandle process;
    wchar_t path[PATH_BUFFER_SIZE] = {};
    bool local = false;  // the image lies on a volume known to be local
};

// Records looked at ahead of the one being built, so that the worker reads
// their files while TaskRoll builds and writes the records before them. A
// list may be long; the processes of a machine are a few hundred, all
// looked at before the first record, while the worker is still getting
// ready (each holds its process handle until its record).
constexpr std::size_t LOOKAHEAD = 48;
constexpr std::size_t PROCESS_LOOKAHEAD = 4096;

// Tells the reader the file of process `processId`, where the record would
// name it by a plain ANSI path (others are asked for when their record comes).
void ExpectProcessFile(DWORD processId, std::vector<PeekedProcess>* peeked)
{
    peeked->emplace_back();
    PeekedProcess& ahead = peeked->back();
    ahead.processId = processId;
    std::string ansi;
    char full[PATH_BUFFER_SIZE] = {};
    if (!PeekExecutablePath(processId, &ahead.process, ahead.path))
        return;
    ahead.local = IsOnLocalVolume(ahead.path);
    if (!ahead.local || std::wcschr(ahead.path, L'~') != nullptr || !ToAnsiLossless(ahead.path, &ansi) ||
        ansi.size() >= PATH_BUFFER_SIZE)
        return;
    DWORD length = GetFullPathNameA(ansi.c_str(), PATH_BUFFER_SIZE, full, nullptr);
    if (length > 0 && length < PATH_BUFFER_SIZE)
        ExpectModuleFile(full, nullptr);
}

void ExpectListedFile(std::size_t index)
{
    char full[PATH_BUFFER_SIZE] = {};
    if (GetUnicodeName(index) != nullptr)
        return;
    DWORD length = GetFullPathNameA(GetName(index), PATH_BUFFER_SIZE, full, nullptr);
    if (length > 0 && length < PATH_BUFFER_SIZE)
        ExpectModuleFile(full, nullptr);
}

// 0 when a record was built into `record`; otherwise a nonzero error code.
DWORD GetProcessInfo(DWORD processId, char* record, PeekedProcess* peeked = nullptr)
{
    LogTrace("GetProcessInfo");
    LogMessage("GetProcessInfo started (Process ID = %d)", static_cast<int>(processId));

    // The handle stays open until the record is built: the Java lookup asks it
    // for the process's owner, and it keeps the id from being reused meanwhile.
    handles::ProcessHandle process;
    wchar_t path[PATH_BUFFER_SIZE] = {};
    bool local = false;
    if (peeked != nullptr && peeked->process) {
        process = std::move(peeked->process);
        std::wcsncpy(path, peeked->path, PATH_BUFFER_SIZE - 1);
        local = peeked->local;
    } else if (DWORD error = FindExecutablePath(processId, &process, path)) {
        return error;
    } else {
        local = IsOnLocalVolume(path);
    }
    // An image on a share is not opened, not even to see that it is there:
    // run as SYSTEM, every open would authenticate the computer's account to
    // the server of whoever started the program. Its path is not expanded
    // either (that asks the file system); the kernel gives it in full.
    if (!local) {
        std::string name;
        if (!ToAnsiLossless(path, &name) || name.size() >= PATH_BUFFER_SIZE)
            name = EscapedPath(reinterpret_cast<const std::uint16_t*>(path), std::wcslen(path));
        LogMessage("%s: on a network path, or on a drive not known to be local; it is not opened, and its record "
                   "has the default description",
                   name.c_str());
        BuildRecord(name.c_str(), "unknown_description", record, processId, process.Get());
        return 0;
    }
    std::string modulePath;
    wchar_t longPath[PATH_BUFFER_SIZE] = {};
    RecordPathForm form = GetAnsiModulePath(path, &modulePath, longPath);
    return static_cast<DWORD>(GetModuleInfo(modulePath.c_str(), record, processId, process.Get(),
                                            form == RECORD_PATH_AS_IS ? nullptr : longPath));
}

// The record of the listed name `index`; `name` tells how the record names it.
int GetListedModuleInfo(std::size_t index, char* record, std::string* name)
{
    const wchar_t* unicodeName = GetUnicodeName(index);
    if (unicodeName == nullptr) {
        *name = GetName(index);
        return GetModuleInfo(name->c_str(), record, 0);
    }
    RecordPathForm form = GetRecordPath(unicodeName, name);
    return GetModuleInfo(name->c_str(), record, 0, nullptr, form == RECORD_PATH_AS_IS ? nullptr : unicodeName);
}

}  // namespace

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

int GetProcessesData(char* record, const wchar_t* outputPath, OutputRefusal* refusal)
{
    LogTrace("GetProcessesData");
    // A name list read from the input file replaces the running processes.
    std::size_t nameCount = GetNameCount();
    bool listMode = nameCount > 0;

    // The worker starts first and gets ready while the processes are
    // enumerated (its process made meanwhile, on a thread of its own) and the
    // output is opened; it is no process the listing describes, so it leaves
    // the table unmentioned. Its failure is told after the output's, as it
    // always was.
    std::vector<DWORD> processIds;
    bool enumerated = listMode;
    if (listMode) {
        StartVersionReader();
    } else {
        StartVersionReaderMeanwhile();
        try {
            enumerated = EnumerateProcessIds(&processIds, PROCESS_TABLE_START);
        } catch (...) {
            // Out of memory, or a table beyond the largest vector (length_error).
        }
        AwaitVersionReaderStart();
        processIds.erase(std::remove_if(processIds.begin(), processIds.end(), IsVersionReaderProcess),
                         processIds.end());
    }
    OutputRefusal reason = OUTPUT_OPEN_FAILED;
    OutputStage stage;
    FILE* output = nullptr;
    BeginOutput(outputPath, &stage, &output, &reason);
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

    std::size_t count = nameCount;
    if (!listMode) {
        if (!enumerated) {
            LogMessage("Failed to enumerate processes");
            std::fclose(output);
            DiscardOutput(&stage);
            return RUN_ENUMERATION_FAILED;
        }
        count = processIds.size();
    }
    DWORD ownId = GetCurrentProcessId();

    // The record buffer is cleared for every item, also for one that is then
    // skipped or fails; the last record written is kept aside for standard output.
    std::string lastWritten;
    int outcome = RUN_LISTED;
    std::vector<PeekedProcess> peeked;  // of the processes from `peekedFrom` on
    std::size_t peekedFrom = 0;
    std::size_t expected = 0;  // items told ahead so far
    for (std::size_t i = 0; i < count && outcome == RUN_LISTED; ++i) {
        std::memset(record, 0, RECORD_BUFFER_SIZE);
        try {
            for (; expected < count && expected <= i + (listMode ? LOOKAHEAD : PROCESS_LOOKAHEAD); ++expected) {
                if (listMode)
                    ExpectListedFile(expected);
                else if (processIds[expected] != ownId && !IsVersionReaderProcess(processIds[expected]))
                    ExpectProcessFile(processIds[expected], &peeked);
                else
                    peeked.emplace_back();
            }
        } catch (...) {
            // Out of memory: the records ask for their files themselves.
        }
        if (i > peekedFrom && i - 1 - peekedFrom < peeked.size())
            peeked[i - 1 - peekedFrom].process.Reset();  // a process its record did not take
        PeekedProcess* ahead = nullptr;
        if (!listMode && i >= peekedFrom && i - peekedFrom < peeked.size() && peeked[i - peekedFrom].processId == processIds[i])
            ahead = &peeked[i - peekedFrom];
        // In list mode no process is opened: the listed file itself is
        // described, with process id 0.
        std::string listed;
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
            DWORD result = listMode ? static_cast<DWORD>(GetListedModuleInfo(i, record, &listed))
                                    : GetProcessInfo(processId, record, ahead);
            name = listMode ? listed.c_str() : nullptr;
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
    // The last records may still sit in the stream's buffer: only the flush
    // and the close tell whether they reached the file (flushed first, since
    // Wine's runtime forgets at the close what the close's own flush met).
    // Only a whole listing replaces processes.dat; after any failure the
    // previous one stays.
    bool flushed = std::fflush(output) == 0;
    if ((std::fclose(output) != 0 || !flushed) && outcome == RUN_LISTED) {
        LogMessage("Failed to write output process list file: nError %d", errno);
        outcome = RUN_OUTPUT_NOT_WRITTEN;
    }
    if (outcome == RUN_LISTED)
        outcome = FinishOutput(&stage);
    else
        DiscardOutput(&stage);
    // Standard output repeats the last record written; after a failure there
    // is none that reached processes.dat.
    std::memset(record, 0, RECORD_BUFFER_SIZE);
    if (outcome == RUN_LISTED)
        CopyBounded(record, RECORD_BUFFER_SIZE, lastWritten.c_str());
    return outcome;
}
