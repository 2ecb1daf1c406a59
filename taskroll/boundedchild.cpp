#include "boundedchild.h"

#include "debuglog.h"
#include "readerpolicy.h"

#include <ntsecapi.h>

#include <string>
#include <vector>

namespace {

// Memory the worker may commit: a version read needs a few hundred KiB; a
// file that makes the system ask for more fails in the worker, not here.
constexpr SIZE_T WORKER_MEMORY_BYTES = 256u << 20;
constexpr DWORD PIPE_BUFFER_BYTES = 64 * 1024;
// Names tried for one worker's pipe: each one that is taken already is told
// in the log, and a start fails after this many.
constexpr unsigned PIPE_NAME_TRIES = 4;

// A pipe name that nobody can guess: 128 bits from the system's generator.
bool NewPipeName(std::wstring* name)
{
    unsigned char random[16];
    if (!RtlGenRandom(random, sizeof random)) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    *name = L"\\\\.\\pipe\\taskroll-versionreader-";
    for (unsigned char byte : random) {
        *name += L"0123456789abcdef"[byte >> 4];
        *name += L"0123456789abcdef"[byte & 0xF];
    }
    return true;
}

// A security descriptor whose one entry admits TaskRoll's own user, and
// nobody else, to the pipe. `acl` and `user` hold what it points at.
bool OwnUserOnly(SECURITY_DESCRIPTOR* descriptor, std::vector<unsigned char>* acl, std::vector<unsigned char>* user)
{
    handles::TokenHandle token;
    HANDLE received = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &received))
        return false;
    token.Reset(received);
    DWORD bytes = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &bytes);
    user->assign(bytes, 0);
    if (bytes == 0 || !GetTokenInformation(token.Get(), TokenUser, user->data(), bytes, &bytes))
        return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user->data())->User.Sid;
    acl->assign(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid), 0);
    PACL list = reinterpret_cast<PACL>(acl->data());
    return InitializeAcl(list, static_cast<DWORD>(acl->size()), ACL_REVISION) &&
           AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
           InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(descriptor, TRUE, list, FALSE);
}

// TaskRoll's end of a new pipe, and the worker's end in `client` (inheritable).
// The pipe has one instance, admits only TaskRoll's user and no remote
// client, and TaskRoll connects to it itself at once: no other process can
// take the worker's place. A name that another process holds already (it
// cannot be guessed: someone watches, or tries names in bulk) is replaced by
// a new one, and the log tells of it.
bool CreateWorkerPipe(Worker* worker, const WorkerStart& start, handles::FileHandle* client)
{
    SECURITY_DESCRIPTOR descriptor;
    std::vector<unsigned char> acl, user;
    if (!OwnUserOnly(&descriptor, &acl, &user))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, &descriptor, FALSE};
    std::wstring name;
    DWORD error = ERROR_SUCCESS;
    for (unsigned tries = 0; tries < PIPE_NAME_TRIES; ++tries) {
        if (!NewPipeName(&name))
            return false;
        if (start.watchPipeName != nullptr)
            start.watchPipeName(name.c_str(), start.watchContext);
        worker->pipe.Reset(CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, PIPE_BUFFER_BYTES,
            PIPE_BUFFER_BYTES, 0, &security));
        error = worker->pipe ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_PIPE_BUSY)
            break;
        std::string narrow(name.begin(), name.end());
        LogMessage("The version reader's pipe '%s' is held by another process (a possible attack); another name is "
                   "taken",
                   narrow.c_str());
    }
    if (!worker->pipe) {
        SetLastError(error);  // the log's own calls may have changed it
        return false;
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    client->Reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    return static_cast<bool>(*client);
}

// A job that ends the worker with TaskRoll (its handle closes when TaskRoll
// ends, however it ends), limits its memory, lets it start no process, ends
// it at an unhandled exception without an error report that would wait for
// somebody to close it, and keeps it off the desktop.
bool CreateWorkerJob(Worker* worker)
{
    worker->job.Reset(CreateJobObjectW(nullptr, nullptr));
    if (!worker->job)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = WORKER_MEMORY_BYTES;
    if (!SetInformationJobObject(worker->job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return false;
    // Nothing of the desktop either: a worker taken over by a crafted file
    // reads no clipboard, opens no window of another process, changes no
    // setting of the machine's, and cannot log anybody off.
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui = {};
    ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_HANDLES |
                             JOB_OBJECT_UILIMIT_READCLIPBOARD | JOB_OBJECT_UILIMIT_WRITECLIPBOARD |
                             JOB_OBJECT_UILIMIT_GLOBALATOMS | JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS |
                             JOB_OBJECT_UILIMIT_DISPLAYSETTINGS | JOB_OBJECT_UILIMIT_EXITWINDOWS;
    return SetInformationJobObject(worker->job.Get(), JobObjectBasicUIRestrictions, &ui, sizeof ui) != 0;
}

// What the system tells of `token` in the form `kind`, in `bytes` (empty:
// it would not tell).
void QueryToken(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<unsigned char>* bytes)
{
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    bytes->assign(size, 0);
    if (size == 0 || !GetTokenInformation(token, kind, bytes->data(), size, &size))
        bytes->clear();
}

// The worker's token: a copy of TaskRoll's that keeps what PlanWorkerToken
// keeps, at the level it chooses. 0, or why it cannot be made: then no
// worker starts (its file is not read), since one with TaskRoll's own token
// would hold every right of the run's account.
DWORD CreateWorkerToken(handles::TokenHandle* restricted)
{
    HANDLE received = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT, &received))
        return GetLastError();
    handles::TokenHandle token(received);
    std::vector<unsigned char> privilegeBytes, labelBytes;
    QueryToken(token.Get(), TokenPrivileges, &privilegeBytes);
    QueryToken(token.Get(), TokenIntegrityLevel, &labelBytes);
    if (privilegeBytes.empty())
        return ERROR_INVALID_DATA;  // the privileges to delete cannot be told
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(privilegeBytes.data());
    TokenFacts facts;
    for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
        char name[64] = {};
        DWORD length = sizeof name;
        LUID luid = held->Privileges[i].Luid;
        facts.privileges.push_back(LookupPrivilegeNameA(nullptr, &luid, name, &length) ? name : "");
    }
    if (!labelBytes.empty()) {
        PSID level = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(labelBytes.data())->Label.Sid;
        const UCHAR count = *GetSidSubAuthorityCount(level);
        facts.integrityKnown = count > 0;
        facts.integrityRid = count > 0 ? *GetSidSubAuthority(level, count - 1u) : 0;
    }
    const WorkerTokenPlan plan = PlanWorkerToken(facts);
    std::vector<LUID_AND_ATTRIBUTES> deleted;
    for (std::size_t index : plan.deleted)
        deleted.push_back(held->Privileges[index]);
    HANDLE made = nullptr;
    if (!CreateRestrictedToken(token.Get(), 0, 0, nullptr, static_cast<DWORD>(deleted.size()),
                               deleted.empty() ? nullptr : deleted.data(), 0, nullptr, &made))
        return GetLastError();
    restricted->Reset(made);
    SID_IDENTIFIER_AUTHORITY mandatory = SECURITY_MANDATORY_LABEL_AUTHORITY;
    DWORD levelSid[(SECURITY_MAX_SID_SIZE + sizeof(DWORD) - 1) / sizeof(DWORD)] = {};
    if (!InitializeSid(levelSid, &mandatory, 1))
        return GetLastError();
    *GetSidSubAuthority(levelSid, 0) = plan.integrityRid;
    TOKEN_MANDATORY_LABEL label = {};
    label.Label.Sid = levelSid;
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    if (!SetTokenInformation(made, TokenIntegrityLevel, &label, sizeof label + GetLengthSid(levelSid)))
        return GetLastError();
    return 0;
}

// Starts the worker with its restricted token and only its end of the pipe
// inherited, as its standard input and output; suspended until it is in the
// job, so that it runs no instruction outside it. 0, or the error that
// stopped it.
}  // namespace

DWORD StartWorker(Worker* worker, const WorkerStart& start)
{
    std::wstring program = start.program;
    if (program.empty()) {
        program.assign(32768, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, &program[0], static_cast<DWORD>(program.size()));
        if (length == 0 || length >= program.size())
            return ERROR_FILENAME_EXCED_RANGE;
        program.resize(length);
    }
    std::wstring commandLine = L"\"" + program + L"\" ";
    for (const char* c = VERSION_READER_ARGUMENT; *c != '\0'; ++c)
        commandLine += static_cast<wchar_t>(*c);

    handles::TokenHandle token;
    if (DWORD error = CreateWorkerToken(&token)) {
        LogMessage("The version reader's restricted token cannot be made (error %lu); no file is read in TaskRoll's "
                   "own process",
                   static_cast<unsigned long>(error));
        return error;
    }
    handles::FileHandle client;
    if (!CreateWorkerJob(worker) || !CreateWorkerPipe(worker, start, &client))
        return GetLastError();
    worker->received.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    worker->sent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!worker->received || !worker->sent)
        return GetLastError();

    SIZE_T attributeBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
    std::vector<unsigned char> attributeBuffer(attributeBytes);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    HANDLE inherited = client.Get();
    if (attributeBytes == 0 || !InitializeProcThreadAttributeList(attributes, 1, 0, &attributeBytes))
        return GetLastError();
    DWORD error = 0;
    if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited, sizeof inherited,
                                   nullptr, nullptr)) {
        error = GetLastError();
    } else {
        STARTUPINFOEXW startup = {};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = client.Get();
        startup.StartupInfo.hStdOutput = client.Get();
        startup.StartupInfo.hStdError = nullptr;
        startup.lpAttributeList = attributes;
        PROCESS_INFORMATION started = {};
        // A restricted copy of the caller's own token needs no privilege to
        // be given to a new process. No console: the worker talks only over
        // its pipe, and a console would cost a console host process per
        // worker.
        if (!CreateProcessAsUserW(token.Get(), program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                  nullptr, &startup.StartupInfo, &started)) {
            error = GetLastError();
        } else {
            handles::ThreadHandle thread(started.hThread);
            worker->process.Reset(started.hProcess);
            if (!AssignProcessToJobObject(worker->job.Get(), worker->process.Get())) {
                // Outside the job it could outlive TaskRoll: it never runs.
                error = GetLastError();
                TerminateProcess(worker->process.Get(), 1);
            } else {
                ResumeThread(thread.Get());
                worker->id = started.dwProcessId;
            }
        }
    }
    DeleteProcThreadAttributeList(attributes);
    return error;
}


ProcessorSample ProcessorTime(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    ProcessorSample sample;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
        return sample;
    const auto ticks = [](const FILETIME& time) {
        return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    };
    sample.known = true;
    sample.ticks = ticks(kernel) + ticks(user);
    return sample;
}

void StopWorker(Worker* worker)
{
    // Terminating is enough: closing the job would end it too, but only once
    // every handle to the job is gone.
    if (worker->process) {
        TerminateProcess(worker->process.Get(), 1);
        WaitForSingleObject(worker->process.Get(), 5000);
    }
    *worker = Worker();
}

