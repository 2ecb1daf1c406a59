// rand_s, the runtime's draw from the system's random number generator.
#define _CRT_RAND_S
#include "output.h"

#include "debuglog.h"
#include "text.h"

#include <windows.h>
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Far beyond what any open, rename or removal takes when nobody holds it
// back, and short enough that a stalled run still ends soon.
constexpr DWORD FILE_STEP_DEADLINE_MS = 5000;
// After a cancel, how long the step has to come back before it is left behind.
constexpr DWORD FILE_STEP_CANCEL_MS = 1000;
constexpr int STAGING_ATTEMPTS = 8;

const wchar_t OUTPUT_NAME[] = L"processes.dat";

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
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EINVAL;
    }
}

// A step and its result live on the heap: a step that is left behind after
// its deadline may still end later and write there.
struct TimedStep {
    std::function<DWORD()> run;
    DWORD result = ERROR_TIMEOUT;
};

DWORD WINAPI RunTimedStep(void* parameter)
{
    TimedStep* step = static_cast<TimedStep*>(parameter);
    step->result = step->run();
    return 0;
}

// Runs `run` (which returns 0 or a system error code) on a thread of its own
// and waits for it until the deadline; then its synchronous I/O is cancelled.
// A step that does not come back even then is left to the end of the process:
// ERROR_TIMEOUT, and nothing that it uses is released.
DWORD RunWithDeadline(std::function<DWORD()> run)
{
    TimedStep* step = new TimedStep{std::move(run)};
    handles::ThreadHandle thread(CreateThread(nullptr, 0, RunTimedStep, step, 0, nullptr));
    if (!thread) {
        // No thread to spare: the step runs here, without a deadline.
        DWORD result = step->run();
        delete step;
        return result;
    }
    if (WaitForSingleObject(thread.Get(), FILE_STEP_DEADLINE_MS) != WAIT_OBJECT_0) {
        CancelSynchronousIo(thread.Get());
        if (WaitForSingleObject(thread.Get(), FILE_STEP_CANCEL_MS) != WAIT_OBJECT_0)
            return ERROR_TIMEOUT;
        step->result = ERROR_TIMEOUT;
    }
    DWORD result = step->result;
    delete step;
    return result;
}

// What the handle tells of its file, for the verdicts of core/outputfile.
OutputFileFacts DescribeFile(HANDLE file, DWORD* attributes = nullptr)
{
    OutputFileFacts facts = {};
    facts.opened = file != INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info = {};
    facts.described = facts.opened && GetFileInformationByHandle(file, &info) != 0;
    if (facts.described) {
        facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        facts.links = info.nNumberOfLinks;
    }
    if (attributes != nullptr)
        *attributes = facts.described ? info.dwFileAttributes : 0;
    return facts;
}

// Marks an open file for removal; it goes when its last handle closes.
bool RemoveOpenFile(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// The directory in the \\?\ form, so that the longer names of the run's own
// files fit wherever "\processes.dat" does.
std::wstring LongForm(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

// What a killed run left: files of the new file's name pattern alone, opened
// without following a link and without sharing, so that a live run's file
// (which that run holds without delete sharing) cannot be opened and stays.
void RemoveLeftovers(const std::wstring& directory)
{
    WIN32_FIND_DATAW entry;
    handles::FindHandle search(FindFirstFileW((directory + L"\\processes.dat.*.new").c_str(), &entry));
    if (!search)
        return;
    std::vector<std::wstring> names;
    do {
        if (IsStagingName(entry.cFileName))
            names.push_back(entry.cFileName);
    } while (FindNextFileW(search.Get(), &entry));
    search.Reset();
    for (const std::wstring& name : names) {
        const std::wstring path = directory + L"\\" + name;
        handles::FileHandle file(CreateFileWithin(path, DELETE | FILE_READ_ATTRIBUTES, 0, OPEN_EXISTING,
                                                  FILE_FLAG_OPEN_REPARSE_POINT));
        DWORD error = GetLastError();
        const std::string shown = MessagePath(path);
        if (file && IsRemovableLeftover(DescribeFile(file.Get())) && RemoveOpenFile(file.Get()))
            LogMessage("Removed %s, left by an earlier run that did not finish", shown.c_str());
        else if (!file)
            LogMessage("%s is not removed: it is in use or cannot be opened (error %lu)", shown.c_str(),
                       static_cast<unsigned long>(error));
        else
            LogMessage("%s is not removed: it is not a plain file with one name", shown.c_str());
    }
}

// The new file: a random name that nobody can know in advance, created only
// where no file of that name exists (a planted link of the name is met, not
// followed), shared with nobody, so that nobody can read it early or remove it.
HANDLE CreateStagingFile(OutputStage* stage)
{
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < STAGING_ATTEMPTS && error == ERROR_FILE_EXISTS; ++attempt) {
        unsigned int high = 0, low = 0;
        if (rand_s(&high) != 0 || rand_s(&low) != 0) {
            error = ERROR_GEN_FAILURE;
            break;
        }
        wchar_t name[STAGING_NAME_SIZE];
        MakeStagingName((static_cast<std::uint64_t>(high) << 32) | low, name);
        HANDLE file = CreateFileWithin(stage->directory + L"\\" + name,
                                       GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER, 0,
                                       CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT);
        error = GetLastError();
        if (file != INVALID_HANDLE_VALUE) {
            stage->stagingName = name;
            return file;
        }
    }
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

// The security and attributes that truncating processes.dat kept go over to
// the new file. The DACL decides who may read the inventory; the owner and
// group go over where this account may set them (an administrator's token
// may not), and are otherwise the run's own.
DWORD CarryOver(const OutputStage& stage)
{
    if (!stage.replacing)
        return 0;
    HANDLE file = stage.file.Get();
    PSECURITY_DESCRIPTOR descriptor = stage.security.Get();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr, group = nullptr;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return GetLastError();
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorGroup(descriptor, &group, &defaulted);
    if (owner != nullptr && group != nullptr)
        SetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner, group,
                        nullptr, nullptr);
    if (present) {
        SECURITY_INFORMATION which = DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                                                      ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                      : UNPROTECTED_DACL_SECURITY_INFORMATION);
        DWORD error = SetSecurityInfo(file, SE_FILE_OBJECT, which, nullptr, nullptr, dacl, nullptr);
        if (error != ERROR_SUCCESS)
            return error;
    }
    if (stage.attributes != 0) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = stage.attributes;
        if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic))
            return GetLastError();
    }
    return 0;
}

// One rename on one volume, by the new file's own handle: a reader sees the
// previous processes.dat or the new one, never a part of either. The plain
// name is taken in the file's own directory (Wine takes it in the current
// directory, which is that directory here).
DWORD ReplaceByRename(HANDLE file)
{
    const std::size_t nameBytes = sizeof OUTPUT_NAME - sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, OUTPUT_NAME, nameBytes);
    std::vector<unsigned char>* info = new std::vector<unsigned char>(std::move(buffer));
    DWORD error = RunWithDeadline([file, info] {
        BOOL renamed = SetFileInformationByHandle(file, FileRenameInfo, info->data(), static_cast<DWORD>(info->size()));
        return renamed ? 0 : GetLastError();
    });
    // Left to the end of the process with the step, should it not have come back.
    if (error != ERROR_TIMEOUT)
        delete info;
    return error;
}

}  // namespace

HANDLE CreateFileWithin(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    HANDLE* opened = new HANDLE(INVALID_HANDLE_VALUE);
    DWORD error = RunWithDeadline([path, access, share, disposition, flags, opened] {
        *opened = CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags,
                              nullptr);
        return *opened == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    });
    HANDLE file = error == ERROR_TIMEOUT ? INVALID_HANDLE_VALUE : *opened;
    if (error != ERROR_TIMEOUT)
        delete opened;
    SetLastError(error);
    return file;
}

int BeginOutput(const wchar_t* outputPath, OutputStage* stage, FILE** stream, OutputRefusal* refusal)
{
    const std::wstring path = outputPath;
    stage->directory = LongForm(path.substr(0, path.rfind(L'\\')));
    *stream = nullptr;

    // Only the attributes and the security descriptor are asked for: such an
    // open breaks no oplock and is shared with every reader and writer.
    handles::FileHandle existing(CreateFileWithin(stage->directory + L"\\" + OUTPUT_NAME,
                                                  READ_CONTROL | FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
    DWORD error = GetLastError();
    DWORD attributes = 0;
    OutputFileFacts facts = DescribeFile(existing.Get(), &attributes);
    facts.missing = !existing && (error == ERROR_FILE_NOT_FOUND);
    if (existing && !facts.described)
        error = ERROR_ACCESS_DENIED;
    OutputVerdict verdict = JudgeOutputFile(facts);
    *refusal = verdict.refusal;
    if (verdict.failure == RUN_LISTED && existing) {
        stage->replacing = true;
        stage->attributes = CarriedAttributes(attributes);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        error = GetSecurityInfo(existing.Get(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor);
        stage->security.Reset(descriptor);
        if (error != ERROR_SUCCESS)
            verdict.failure = RUN_OUTPUT_NOT_OPENED;
    } else if (facts.readOnly || facts.directory) {
        error = ERROR_ACCESS_DENIED;
    }
    // Closed at once: a file that is open cannot be replaced under Wine, and
    // another run may be about to replace it.
    existing.Reset();
    if (verdict.failure != RUN_LISTED) {
        errno = OpenErrorNumber(error);
        return RUN_OUTPUT_NOT_OPENED;
    }

    RemoveLeftovers(stage->directory);
    stage->file.Reset(CreateStagingFile(stage));
    error = GetLastError();
    HANDLE writer = INVALID_HANDLE_VALUE;
    // The stream gets a handle of its own: closing the stream tells whether its
    // last records reached the file, while the run's handle keeps the file
    // open, unshared, for its flush and its rename.
    if (stage->file && !DuplicateHandle(GetCurrentProcess(), stage->file.Get(), GetCurrentProcess(), &writer, 0,
                                        FALSE, DUPLICATE_SAME_ACCESS))
        error = GetLastError();
    int descriptor = writer == INVALID_HANDLE_VALUE
                         ? -1
                         : _open_osfhandle(reinterpret_cast<intptr_t>(writer), _O_WRONLY | _O_TEXT);
    if (descriptor == -1 && writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    *stream = descriptor == -1 ? nullptr : _fdopen(descriptor, "w");
    if (*stream == nullptr) {
        if (descriptor != -1)
            _close(descriptor);
        DiscardOutput(stage);
        errno = OpenErrorNumber(error);
        return RUN_OUTPUT_NOT_OPENED;
    }
    return RUN_LISTED;
}

int FinishOutput(OutputStage* stage)
{
    if (!FlushFileBuffers(stage->file.Get())) {
        DWORD error = GetLastError();
        LogMessage("Failed to write output process list file: nError %d", OpenErrorNumber(error));
        DiscardOutput(stage);
        return RUN_OUTPUT_NOT_WRITTEN;
    }
    DWORD error = CarryOver(*stage);
    if (error != 0) {
        LogMessage("Failed to give the new output process list file the attributes and security of the old one "
                   "(error %lu); the old one is left as it was",
                   static_cast<unsigned long>(error));
    } else if ((error = ReplaceByRename(stage->file.Get())) != 0) {
        LogMessage("Failed to replace the output process list file (error %lu); it is left as it was",
                   static_cast<unsigned long>(error));
    }
    if (error != 0) {
        if (error != ERROR_TIMEOUT)
            DiscardOutput(stage);
        else
            stage->file.Release();  // still in the hands of the rename that did not come back
        return RUN_OUTPUT_NOT_REPLACED;
    }
    stage->file.Reset();
    return RUN_LISTED;
}

void DiscardOutput(OutputStage* stage)
{
    if (stage->file && !RemoveOpenFile(stage->file.Get()))
        LogMessage("Failed to remove the new output process list file %s (error %lu)",
                   MessagePath(stage->directory + L"\\" + stage->stagingName).c_str(),
                   static_cast<unsigned long>(GetLastError()));
    stage->file.Reset();
}
