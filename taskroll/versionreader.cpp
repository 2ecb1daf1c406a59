#include "internal.h"

#include "debuglog.h"
#include "handles.h"
#include "readerpolicy.h"
#include "systemdlls.h"
#include "versiontree.h"

#include <ntsecapi.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

// The exchange with the worker, over one duplex pipe: TaskRoll writes a
// request (the path's length and the size of the smallest version resource
// that the check found, 4 little-endian bytes each, then the path's ANSI bytes,
// or its UTF-16 LE bytes where the length has REQUEST_PATH_WIDE set),
// the worker answers with its outcome and the block's size (4 bytes each),
// then, for SYSTEM_READ_DONE, the block itself. TaskRoll's end of the pipe is
// overlapped, so that every wait for the worker can end at a bound or when the
// worker does; the worker's end is an ordinary one, its standard input and
// output.

namespace {

// How often a long wait looks at the worker's processor time.
constexpr DWORD WAIT_SLICE_MS = 100;
// Memory the worker may commit: a version read needs a few hundred KiB; a
// file that makes the system ask for more fails in the worker, not here.
constexpr SIZE_T WORKER_MEMORY_BYTES = 256u << 20;
// The longest path a request carries, a "\\?\" path of 32767 units in a code
// page of up to 2 bytes a character.
constexpr std::uint32_t REQUEST_PATH_MAX_BYTES = 65536;
constexpr std::uint32_t REQUEST_PATH_WIDE = 0x80000000u;
// Files that ended a worker in this run; more than this many would be a
// machine full of crafted files, and those beyond it are merely tried again.
constexpr std::size_t FAILED_FILES_MAX = 256;
constexpr DWORD PIPE_BUFFER_BYTES = 64 * 1024;
// Names tried for one worker's pipe: each one that is taken already is told
// in the log, and a start fails after this many.
constexpr unsigned PIPE_NAME_TRIES = 4;
// An answer: the outcome and the block's size, 4 little-endian bytes each,
// then the block for SYSTEM_READ_DONE.
constexpr DWORD ANSWER_HEADER_BYTES = 8;
// A request: the path's length and the smallest resource's size, 4
// little-endian bytes each, then the path's ANSI bytes.
constexpr DWORD REQUEST_HEADER_BYTES = 8;
// What a worker says first, once it runs; and how long it may take to say it
// (creating a process is slow on a busy machine, and under Wine).
constexpr unsigned char READY_WORD[4] = {'T', 'R', 'V', 'R'};
constexpr DWORD WORKER_START_MS = 10000;
// The ids of the workers of a run, kept so that the listing never describes
// one (a worker may get the id of a process that ended since the enumeration).
// A run that starts more workers than this has met that many crafted files.
constexpr unsigned WORKER_IDS_MAX = 64;

enum Exchange {
    EXCHANGE_ANSWERED,
    EXCHANGE_TOO_SLOW,    // the wall-clock bound passed, the worker's processor time did not
    EXCHANGE_FAILED,      // the worker ended, used its processor time up, or answered nonsense
};

struct Worker {
    handles::JobHandle job;
    handles::ProcessHandle process;
    handles::FileHandle pipe;  // TaskRoll's end, overlapped
    handles::EventHandle done;
};

struct ReaderState {
    std::wstring program;  // empty: TaskRoll's own executable
    VersionReaderBounds bounds = VERSION_READER_BOUNDS;
    Worker worker;
    ReaderBudget budget;
    bool unavailable = false;  // no more workers are tried: files are not read
    bool budgetSpent = false;  // requests lost the run's time budget: files are not read
    unsigned starts = 0;
    PipeNameWatch watchPipeName = nullptr;
    void* watchContext = nullptr;
    DWORD workerIds[WORKER_IDS_MAX] = {};
    std::vector<unsigned char> answer;  // allocated once, at the first request
    KnownFiles<bool> failed{FAILED_FILES_MAX};
};

ReaderState& State()
{
    static ReaderState state;
    return state;
}

void PutLe32(unsigned char* bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t Le32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The version functions of the system's VERSION, ANSI and UTF-16, loaded
// from System32 at the worker's first request: VERSION is no KnownDLL, so an
// import would let a version.dll beside TaskRoll be loaded in its place.
struct VersionFunctions {
    BOOL(WINAPI* read)(LPCSTR path, DWORD handle, DWORD size, LPVOID block) = nullptr;
    DWORD(WINAPI* size)(LPCSTR path, LPDWORD handle) = nullptr;
    BOOL(WINAPI* readWide)(LPCWSTR path, DWORD handle, DWORD size, LPVOID block) = nullptr;
    DWORD(WINAPI* sizeWide)(LPCWSTR path, LPDWORD handle) = nullptr;
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function* function)
{
    FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// Outside the native file-system view: there, System32 of the 32-bit
// build would name the 64-bit system folder, whose DLL it cannot load.
const VersionFunctions& SystemVersionFunctions()
{
    static const VersionFunctions functions = [] {
        VersionFunctions loaded;
        HMODULE module = LoadSystemDll(L"version.dll");
        Resolve(module, "GetFileVersionInfoA", &loaded.read);
        Resolve(module, "GetFileVersionInfoSizeA", &loaded.size);
        Resolve(module, "GetFileVersionInfoW", &loaded.readWide);
        Resolve(module, "GetFileVersionInfoSizeW", &loaded.sizeWide);
        return loaded;
    }();
    return functions;
}

// The system's version functions on the native file system (the 32-bit
// build reads System32 itself, not SysWOW64), with the flags TaskRoll has
// always used. One read, into the run's largest block, gives the block that
// the size query and a read of that size would give, wherever the core can
// tell its size from what the read wrote (OneReadBlockSize); elsewhere, and
// when that read fails, the system is asked as before: the size, then a read
// of that size. `block` is one buffer for the whole run of a worker.
SystemRead AskSystem(const VersionRequest& request, std::vector<unsigned char>* block, DWORD* size)
{
    const VersionFunctions& version = SystemVersionFunctions();
    *size = 0;
    block->clear();
    if (version.read == nullptr || version.size == nullptr || version.readWide == nullptr ||
        version.sizeWide == nullptr)
        return SYSTEM_READ_FAILED;
    handles::NativeViewScope native;
    const char* path = request.path.c_str();
    const wchar_t* widePath = request.widePath.empty() ? nullptr : request.widePath.c_str();
    try {
        block->reserve(VERSION_BLOCK_MAX_BYTES);
    } catch (...) {
        return SYSTEM_READ_FAILED;
    }
    // Zero-filled, so that no byte the system did not write can reach a record.
    if (request.smallestResource != 0) {
        block->assign(VERSION_BLOCK_MAX_BYTES, 0);
        if (widePath != nullptr ? version.readWide(widePath, 0, VERSION_BLOCK_MAX_BYTES, block->data())
                                : version.read(path, 0, VERSION_BLOCK_MAX_BYTES, block->data())) {
            *size = static_cast<DWORD>(OneReadBlockSize(block->data(), block->size(), request.smallestResource));
            if (*size != 0) {
                block->resize(*size);
                return SYSTEM_READ_DONE;
            }
        }
    }
    block->clear();
    DWORD handle = 0;
    *size = widePath != nullptr ? version.sizeWide(widePath, &handle) : version.size(path, &handle);
    if (*size == 0)
        return SYSTEM_READ_NONE;
    if (*size > VERSION_BLOCK_MAX_BYTES)
        return SYSTEM_READ_TOO_LARGE;
    block->assign(*size, 0);
    if (!(widePath != nullptr ? version.readWide(widePath, handle, *size, block->data())
                              : version.read(path, handle, *size, block->data()))) {
        block->clear();
        return SYSTEM_READ_FAILED;
    }
    return SYSTEM_READ_DONE;
}

// Moves all `bytes` through the worker's own (synchronous) end of the pipe.
bool MoveAll(HANDLE pipe, bool write, void* buffer, DWORD bytes)
{
    unsigned char* at = static_cast<unsigned char*>(buffer);
    while (bytes > 0) {
        DWORD count = 0;
        BOOL moved = write ? WriteFile(pipe, at, bytes, &count, nullptr) : ReadFile(pipe, at, bytes, &count, nullptr);
        if (!moved || count == 0)
            return false;
        at += count;
        bytes -= count;
    }
    return true;
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

// The bounds of one request: a wall-clock deadline (a tick count) and the
// processor time the worker may use from the sample taken as it began.
struct RequestBounds {
    DWORD deadline;
    DWORD processorMs;
    ProcessorSample processorAtStart;
};

RequestBounds BoundsFromNow(Worker* worker, DWORD wallMs, DWORD processorMs)
{
    return {GetTickCount() + wallMs, processorMs, ProcessorTime(worker->process.Get())};
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
bool CreateWorkerPipe(Worker* worker, handles::FileHandle* client)
{
    ReaderState& state = State();
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
        if (state.watchPipeName != nullptr)
            state.watchPipeName(name.c_str(), state.watchContext);
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
DWORD StartWorker(Worker* worker)
{
    ReaderState& state = State();
    std::wstring program = state.program;
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
    if (!CreateWorkerJob(worker) || !CreateWorkerPipe(worker, &client))
        return GetLastError();
    worker->done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!worker->done)
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
        // be given to a new process.
        if (!CreateProcessAsUserW(token.Get(), program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
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
                state.workerIds[state.starts % WORKER_IDS_MAX] = started.dwProcessId;
                ++state.starts;
            }
        }
    }
    DeleteProcThreadAttributeList(attributes);
    return error;
}

// Waits until the transfer that signals `done` completes. A worker that ends,
// or passes a bound, ends the wait instead.
Exchange WaitForTransfer(Worker* worker, const RequestBounds& bounds)
{
    HANDLE waits[2] = {worker->done.Get(), worker->process.Get()};
    for (;;) {
        DWORD left = bounds.deadline - GetTickCount();
        if (static_cast<LONG>(left) <= 0)
            return EXCHANGE_TOO_SLOW;
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, left < WAIT_SLICE_MS ? left : WAIT_SLICE_MS);
        if (woke == WAIT_OBJECT_0)
            return EXCHANGE_ANSWERED;
        if (woke != WAIT_TIMEOUT)
            return EXCHANGE_FAILED;  // the worker ended (or the wait itself failed)
        if (RequestUsedUpProcessor(bounds.processorAtStart, ProcessorTime(worker->process.Get()), bounds.processorMs))
            return EXCHANGE_FAILED;
    }
}

// One transfer on the worker's pipe, of at most `bytes` and at least one,
// finished within `bounds`. A transfer that a bound or the worker's end cut
// short is cancelled, and waited for, before its buffer may go.
Exchange TransferSome(Worker* worker, bool write, void* buffer, DWORD bytes, DWORD* moved,
                      const RequestBounds& bounds)
{
    // The system clears the event as the transfer starts.
    OVERLAPPED transfer = {};
    transfer.hEvent = worker->done.Get();
    BOOL started = write ? WriteFile(worker->pipe.Get(), buffer, bytes, nullptr, &transfer)
                         : ReadFile(worker->pipe.Get(), buffer, bytes, nullptr, &transfer);
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return EXCHANGE_FAILED;
    Exchange outcome = started ? EXCHANGE_ANSWERED : WaitForTransfer(worker, bounds);
    if (outcome != EXCHANGE_ANSWERED)
        CancelIoEx(worker->pipe.Get(), &transfer);
    *moved = 0;
    BOOL completed = GetOverlappedResult(worker->pipe.Get(), &transfer, moved, TRUE);
    if (outcome != EXCHANGE_ANSWERED)
        return outcome;
    return completed && *moved > 0 && *moved <= bytes ? EXCHANGE_ANSWERED : EXCHANGE_FAILED;
}

// Waits for the new worker's word that it runs, so that starting a process
// (slow on a busy machine) never counts against a file's bound. 0, or why not.
DWORD AwaitReady(Worker* worker)
{
    unsigned char word[sizeof READY_WORD] = {};
    DWORD moved = 0;
    const RequestBounds bounds = BoundsFromNow(worker, WORKER_START_MS, WORKER_START_MS);
    for (DWORD have = 0; have < sizeof word; have += moved) {
        Exchange outcome = TransferSome(worker, false, word + have, sizeof word - have, &moved, bounds);
        if (outcome != EXCHANGE_ANSWERED)
            return outcome == EXCHANGE_TOO_SLOW ? ERROR_TIMEOUT : ERROR_PROCESS_ABORTED;
    }
    return std::memcmp(word, READY_WORD, sizeof word) == 0 ? 0 : ERROR_INVALID_DATA;
}

// One request and its answer, within `boundMs` of wall-clock time. The answer
// arrives in the run's one answer buffer, usually in one transfer.
Exchange AskWorker(Worker* worker, const VersionRequest& asked, DWORD boundMs, SystemRead* read,
                   std::vector<unsigned char>* block)
{
    std::vector<unsigned char>& answer = State().answer;
    const RequestBounds bounds = BoundsFromNow(worker, boundMs, State().bounds.processorMs);
    std::string request(REQUEST_HEADER_BYTES, '\0');
    try {
        request += asked.path;
        for (wchar_t unit : asked.widePath)
            request += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        answer.resize(ANSWER_HEADER_BYTES + VERSION_BLOCK_MAX_BYTES);
    } catch (...) {
        return EXCHANGE_FAILED;
    }
    const std::uint32_t pathBytes = static_cast<std::uint32_t>(request.size() - REQUEST_HEADER_BYTES);
    PutLe32(reinterpret_cast<unsigned char*>(&request[0]),
            asked.widePath.empty() ? pathBytes : pathBytes | REQUEST_PATH_WIDE);
    PutLe32(reinterpret_cast<unsigned char*>(&request[4]), asked.smallestResource);
    for (DWORD sent = 0, moved = 0; sent < request.size(); sent += moved) {
        Exchange outcome =
            TransferSome(worker, true, &request[sent], static_cast<DWORD>(request.size() - sent), &moved, bounds);
        if (outcome != EXCHANGE_ANSWERED)
            return outcome;
    }
    DWORD have = 0;
    DWORD total = ANSWER_HEADER_BYTES;
    while (have < total) {
        // Until the header is in, the room is the largest answer; a worker
        // that sends more than its header announced is answering nonsense.
        DWORD room = static_cast<DWORD>(have < ANSWER_HEADER_BYTES ? answer.size() : total) - have;
        DWORD moved = 0;
        Exchange outcome = TransferSome(worker, false, answer.data() + have, room, &moved, bounds);
        if (outcome != EXCHANGE_ANSWERED)
            return outcome;
        have += moved;
        if (have >= ANSWER_HEADER_BYTES && total == ANSWER_HEADER_BYTES) {
            std::uint32_t outcomeCode = Le32(answer.data());
            std::uint32_t size = Le32(answer.data() + 4);
            if (outcomeCode > SYSTEM_READ_DONE ||
                (outcomeCode == SYSTEM_READ_DONE && (size == 0 || size > VERSION_BLOCK_MAX_BYTES)))
                return EXCHANGE_FAILED;
            *read = static_cast<SystemRead>(outcomeCode);
            total += *read == SYSTEM_READ_DONE ? size : 0;
        }
    }
    if (have != total)
        return EXCHANGE_FAILED;
    try {
        block->assign(answer.begin() + ANSWER_HEADER_BYTES, answer.begin() + total);
    } catch (...) {
        return EXCHANGE_FAILED;
    }
    return EXCHANGE_ANSWERED;
}

}  // namespace

SystemRead ReadVersionBlock(const char* path, const FileFacts& file, std::uint32_t smallestResource,
                            std::vector<unsigned char>* block, const wchar_t* widePath)
{
    ReaderState& state = State();
    block->clear();
    VersionRequest request;
    request.smallestResource = smallestResource;
    try {
        if (widePath != nullptr)
            request.widePath = widePath;
        else
            request.path = path;
    } catch (...) {
        return SYSTEM_READ_FAILED;
    }
    if (state.failed.Find(file) != nullptr) {
        LogMessage("File '%s' ended the version reader process before; it is not read again", path);
        return SYSTEM_READ_CRASHED;
    }
    // A file is never read in TaskRoll's own process: what makes the system's
    // reader crash or hang would end or stall the run.
    if (state.budgetSpent)
        return SYSTEM_READ_REFUSED;
    if (state.unavailable) {
        LogMessage("File '%s' is not read: no version reader process can be started", path);
        return SYSTEM_READ_REFUSED;
    }

    SystemRead read = SYSTEM_READ_NONE;
    Exchange outcome = EXCHANGE_FAILED;
    const DWORD bounds[2] = {state.bounds.firstMs, state.bounds.retryMs};
    for (DWORD boundMs : bounds) {
        const DWORD tryMs = TryBoundMs(state.budget, boundMs);
        if (tryMs == 0) {
            state.budgetSpent = true;
            LogMessage("The version reader process ran out of time %u times (%lu ms in all); the files not yet read "
                       "get the default description without being read",
                       state.budget.timedOutTries, static_cast<unsigned long>(state.budget.timedOutMs));
            return SYSTEM_READ_REFUSED;
        }
        if (!state.worker.process) {
            DWORD error = StartWorker(&state.worker);
            const DWORD started = GetTickCount();
            if (error == 0)
                error = AwaitReady(&state.worker);
            if (error != 0) {
                StopWorker(&state.worker);
                ++state.budget.startFailures;
                if (error == ERROR_TIMEOUT)
                    CountTimedOutTry(&state.budget, GetTickCount() - started);
                state.unavailable = !MayStartWorker(state.budget);
                LogMessage("The version reader process cannot be started (error %lu); file '%s' is not read",
                           static_cast<unsigned long>(error), path);
                return SYSTEM_READ_REFUSED;
            }
        }
        const DWORD asked = GetTickCount();
        outcome = AskWorker(&state.worker, request, tryMs, &read, block);
        if (outcome == EXCHANGE_ANSWERED)
            return read;
        StopWorker(&state.worker);
        if (outcome == EXCHANGE_FAILED)
            break;
        CountTimedOutTry(&state.budget, GetTickCount() - asked);
    }
    block->clear();
    try {
        state.failed.Add(file, true);
    } catch (...) {
        // Out of memory: the file may be tried again, nothing worse.
    }
    if (outcome == EXCHANGE_TOO_SLOW)
        LogMessage("The version reader process took longer than %lu ms on file '%s'",
                   static_cast<unsigned long>(state.bounds.retryMs), path);
    else
        LogMessage("The version reader process failed on file '%s' (it ended, used up its processor time or answered "
                   "nonsense)",
                   path);
    return SYSTEM_READ_CRASHED;
}

bool IsVersionReaderProcess(DWORD processId)
{
    const ReaderState& state = State();
    for (DWORD id : state.workerIds) {
        if (id != 0 && id == processId)
            return true;
    }
    return false;
}

bool ReadVersionRequest(HANDLE input, VersionRequest* request)
{
    // A request comes in one write, and a pipe read returns what has come:
    // usually the whole request in the first read.
    static std::vector<unsigned char> bytes;
    try {
        bytes.resize(REQUEST_HEADER_BYTES + REQUEST_PATH_MAX_BYTES);
    } catch (...) {
        return false;
    }
    DWORD have = 0;
    DWORD total = REQUEST_HEADER_BYTES;
    while (have < total) {
        DWORD count = 0;
        DWORD room = have < REQUEST_HEADER_BYTES ? REQUEST_HEADER_BYTES - have : total - have;
        if (have == 0)
            room = static_cast<DWORD>(bytes.size());
        if (!ReadFile(input, bytes.data() + have, room, &count, nullptr) || count == 0)
            return false;
        have += count;
        if (total == REQUEST_HEADER_BYTES && have >= REQUEST_HEADER_BYTES) {
            std::uint32_t length = Le32(bytes.data()) & ~REQUEST_PATH_WIDE;
            if (length == 0 || length > REQUEST_PATH_MAX_BYTES)
                return false;
            request->smallestResource = Le32(bytes.data() + 4);
            total += length;
        }
    }
    if (have != total)
        return false;  // more than one request at once: no TaskRoll sends that
    request->path.assign(reinterpret_cast<const char*>(bytes.data()) + REQUEST_HEADER_BYTES, total - REQUEST_HEADER_BYTES);
    request->widePath.clear();
    if ((Le32(bytes.data()) & REQUEST_PATH_WIDE) != 0) {
        if (request->path.size() % 2 != 0)
            return false;
        for (std::size_t at = 0; at < request->path.size(); at += 2)
            request->widePath += static_cast<wchar_t>(static_cast<unsigned char>(request->path[at]) |
                                                      static_cast<unsigned char>(request->path[at + 1]) << 8);
        request->path.clear();
        return request->widePath.find(L'\0') == std::wstring::npos;
    }
    return request->path.find('\0') == std::string::npos;
}

bool AnswerVersionRequest(HANDLE output, const VersionRequest& request)
{
    // One buffer for the worker's run; the answer goes out in one write, so
    // that TaskRoll usually has it in one read.
    static std::vector<unsigned char> block;
    static std::vector<unsigned char> answer;
    DWORD size = 0;
    SystemRead read = AskSystem(request, &block, &size);
    try {
        answer.resize(ANSWER_HEADER_BYTES);
        answer.insert(answer.end(), block.begin(), block.end());
    } catch (...) {
        return false;
    }
    PutLe32(answer.data(), static_cast<std::uint32_t>(read));
    PutLe32(answer.data() + 4, read == SYSTEM_READ_DONE ? static_cast<std::uint32_t>(block.size()) : size);
    return MoveAll(output, true, answer.data(), static_cast<DWORD>(answer.size()));
}

namespace {

LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void EnterVersionReaderProcess()
{
    // A crash ends the worker at once: no error report, no debugger, nothing
    // that waits for somebody (the job's own rule does the same on Windows;
    // Wine would start its debugger). A missing disk asks nobody either.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndAtOnce);
    unsigned char ready[sizeof READY_WORD];
    std::memcpy(ready, READY_WORD, sizeof ready);
    MoveAll(GetStdHandle(STD_OUTPUT_HANDLE), true, ready, sizeof ready);
}

int RunVersionReader()
{
    EnterVersionReaderProcess();
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    VersionRequest request;
    while (ReadVersionRequest(input, &request) && AnswerVersionRequest(output, request)) {
    }
    return 0;
}

void UseVersionReader(const wchar_t* program, const VersionReaderBounds* bounds)
{
    ReaderState& state = State();
    StopWorker(&state.worker);
    state.unavailable = false;
    state.budgetSpent = false;
    state.budget = ReaderBudget();
    state.program = program != nullptr ? program : L"";
    if (bounds != nullptr)
        state.bounds = *bounds;
}

unsigned VersionReaderStarts()
{
    return State().starts;
}

void StopVersionReader()
{
    ReaderState& state = State();
    StopWorker(&state.worker);
    state.failed = KnownFiles<bool>(FAILED_FILES_MAX);
}

void WatchVersionReaderPipeNames(PipeNameWatch watch, void* context)
{
    State().watchPipeName = watch;
    State().watchContext = context;
}
