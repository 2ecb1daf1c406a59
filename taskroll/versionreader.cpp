#include "internal.h"

#include "boundedchild.h"
#include "debuglog.h"
#include "readerpolicy.h"
#include "readerprotocol.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>
#include <string>

// TaskRoll's side of the exchange with the worker (readerprotocol.h), over
// one duplex pipe whose TaskRoll end is overlapped, so that every wait for
// the worker can end at a bound or when the worker does. Requests go out as
// soon as TaskRoll knows them, a few dozen at a time, and the worker answers
// them in order. Each request has its own deadline, which starts when the
// worker can begin on it: when the answer before it came, or when it was
// sent to a worker that had nothing else to do.

namespace {

// How often a long wait looks at the worker's processor time.
constexpr DWORD WAIT_SLICE_MS = 100;
// Files that ended a worker in this run; more than this many would be a
// machine full of crafted files, and those beyond it are merely tried again.
constexpr std::size_t FAILED_FILES_MAX = 256;
// How long a new worker may take to say that it runs (creating a process is
// slow on a busy machine, and under Wine).
constexpr DWORD WORKER_START_MS = 10000;
// The ids of the workers of a run, kept so that the listing never describes
// one (a worker may get the id of a process that ended since the enumeration).
// A run that starts more workers than this has met that many crafted files.
constexpr unsigned WORKER_IDS_MAX = 64;
// Requests sent and not answered yet, and their bytes: far below the pipe's
// buffer, so that sending never waits for the worker.
constexpr std::size_t IN_FLIGHT_MAX = 32;
constexpr std::size_t IN_FLIGHT_BYTES_MAX = 32 * 1024;
// Requests told ahead that go to the worker in one write.
constexpr unsigned SEND_BATCH = 8;
// Requests told ahead and not yet asked for.
constexpr std::size_t EXPECTED_MAX = 128;
constexpr DWORD RECEIVE_CHUNK_BYTES = 64 * 1024;

struct Request {
    std::uint32_t sequence = 0;
    ReaderFrame type = READER_FRAME_DESCRIBE;
    std::string key;       // RequestKey of a description's path; empty for a Java lookup
    std::string logName;   // names the file in the log
    std::vector<std::uint8_t> frame;
    bool sent = false;
    DWORD sentAt = 0;
    unsigned timedOut = 0;  // its tries that ran out of time
    bool wanted = true;     // false: told ahead, never asked for; it is answered for nothing
    bool resolved = false;
    ReaderAnswer outcome = READER_REFUSED;
    std::vector<std::uint8_t> body;  // of the answer
    bool opened = false;             // the worker named the file it was about to read
    FileFacts facts;
    std::vector<std::string> lines;
};

struct ReaderState {
    WorkerStart start;
    VersionReaderBounds bounds = VERSION_READER_BOUNDS;
    Worker worker;
    ReaderBudget budget;
    bool unavailable = false;  // no more workers are tried: files are not read
    bool budgetSpent = false;  // requests lost the run's time budget: files are not read
    unsigned starts = 0;
    DWORD workerIds[WORKER_IDS_MAX] = {};
    std::deque<Request> requests;  // in the order asked; the worker answers in that order
    std::uint32_t nextSequence = 1;
    std::vector<std::uint8_t> received;  // bytes of the worker's not yet taken apart
    std::vector<std::uint8_t> chunk;     // the buffer of the read under way
    OVERLAPPED reading = {};
    bool readPending = false;
    DWORD lastArrival = 0;  // when the last answer (or the worker's ready frame) came
    bool ready = false;     // the worker said that it runs
    unsigned toldUnsent = 0;  // requests told ahead since the last write
    DWORD launchedAt = 0;   // when it was started
    std::uint32_t sampledFor = 0;  // the request whose processor time `sample` began
    ProcessorSample sample;
    KnownFiles<bool> failed{FAILED_FILES_MAX};
    std::vector<FileFacts> failedFiles;  // the same, told to every new worker
    std::vector<std::string> failedPaths;  // sorted keys of the paths that ended a worker
};

ReaderState& StateOfRun()
{
    static ReaderState state;
    return state;
}

// A start that runs on a thread of its own while TaskRoll enumerates the
// processes (StartVersionReaderMeanwhile): the state is the thread's until
// it ends, so every use of it waits for that first.
HANDLE& StartingThread()
{
    static HANDLE thread = nullptr;
    return thread;
}

void AwaitStartingThread()
{
    HANDLE& thread = StartingThread();
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        thread = nullptr;
    }
}

ReaderState& State()
{
    AwaitStartingThread();
    return StateOfRun();
}

std::string Line(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return std::string(text, length < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}

bool Elapsed(DWORD since, DWORD now, DWORD bound)
{
    return static_cast<LONG>(now - since) >= 0 && now - since >= bound;
}

// Ends the worker; what it was sent and did not answer goes to the next one.
void EndWorker(ReaderState& state)
{
    if (state.readPending) {
        CancelIoEx(state.worker.pipe.Get(), &state.reading);
        DWORD moved = 0;
        GetOverlappedResult(state.worker.pipe.Get(), &state.reading, &moved, TRUE);
        state.readPending = false;
    }
    StopWorker(&state.worker);
    state.ready = false;
    state.received.clear();
    for (Request& request : state.requests) {
        if (request.sent && !request.resolved)
            request.sent = false;
    }
}

void Resolve(Request* request, ReaderAnswer outcome)
{
    request->resolved = true;
    request->outcome = outcome;
}

// The first request sent and not answered: the one the worker is on.
Request* Head(ReaderState& state)
{
    for (Request& request : state.requests) {
        if (request.sent && !request.resolved)
            return &request;
    }
    return nullptr;
}

// Drops what is done with from the front.
void Trim(ReaderState& state)
{
    while (!state.requests.empty() && state.requests.front().resolved && !state.requests.front().wanted)
        state.requests.pop_front();
}

// Waits within `waitMs` for what the worker writes: DATA when bytes came
// (added to `received`), NOTHING when none came in that time (the read goes
// on), END when the pipe has nothing more (the worker ended).
enum Received { RECEIVED_DATA, RECEIVED_NOTHING, RECEIVED_END };

Received Receive(ReaderState& state, DWORD waitMs)
{
    Worker& worker = state.worker;
    if (!state.readPending) {
        std::memset(&state.reading, 0, sizeof state.reading);
        state.reading.hEvent = worker.received.Get();
        if (!ReadFile(worker.pipe.Get(), state.chunk.data(), RECEIVE_CHUNK_BYTES, nullptr, &state.reading) &&
            GetLastError() != ERROR_IO_PENDING)
            return RECEIVED_END;
        state.readPending = true;
    }
    HANDLE waits[2] = {worker.received.Get(), worker.process.Get()};
    DWORD woke = WaitForMultipleObjects(2, waits, FALSE, waitMs);
    if (woke == WAIT_TIMEOUT)
        return RECEIVED_NOTHING;
    if (woke != WAIT_OBJECT_0) {
        // The worker ended: what it wrote before is still in the pipe.
        if (WaitForSingleObject(worker.received.Get(), 1000) != WAIT_OBJECT_0)
            return RECEIVED_END;
    }
    DWORD moved = 0;
    BOOL done = GetOverlappedResult(worker.pipe.Get(), &state.reading, &moved, FALSE);
    state.readPending = false;
    if (!done || moved == 0 || moved > RECEIVE_CHUNK_BYTES)
        return RECEIVED_END;
    state.received.insert(state.received.end(), state.chunk.begin(), state.chunk.begin() + moved);
    return RECEIVED_DATA;
}

// Takes apart the frames received: false at one that no worker sends now.
bool TakeFrames(ReaderState& state)
{
    std::size_t at = 0;
    bool sound = true;
    while (sound) {
        ReaderFrame type;
        const std::uint8_t* body = nullptr;
        std::size_t bodyBytes = 0, frameBytes = 0;
        FrameSplit split = SplitReaderFrame(state.received.data() + at, state.received.size() - at, true, &type,
                                            &body, &bodyBytes, &frameBytes);
        if (split == FRAME_INCOMPLETE)
            break;
        Request* head = Head(state);
        if (split == FRAME_INVALID || head == nullptr || type == READER_FRAME_READY) {
            sound = false;
            break;
        }
        at += frameBytes;
        std::uint32_t sequence = 0;
        if (type == READER_FRAME_OPENED) {
            sound = head->type == READER_FRAME_DESCRIBE && DecodeFileFacts(body, bodyBytes, &sequence, &head->facts) &&
                    sequence == head->sequence;
            head->opened = sound;
            continue;
        }
        DescribeAnswer answer;
        JavaFrame java;
        PathFrame path;
        if (type == READER_FRAME_DESCRIBED)
            sound = head->type == READER_FRAME_DESCRIBE && DecodeDescribeAnswer(body, bodyBytes, &answer) &&
                    answer.sequence == head->sequence;
        else if (type == READER_FRAME_EXPANDED)
            sound = head->type == READER_FRAME_EXPAND && DecodePathFrame(body, bodyBytes, &path) &&
                    path.sequence == head->sequence;
        else
            sound = head->type == READER_FRAME_JAVA && DecodeJavaFrame(body, bodyBytes, &java) &&
                    java.sequence == head->sequence;
        if (!sound)
            break;
        head->body.assign(body, body + bodyBytes);
        Resolve(head, READER_ANSWERED);
        state.lastArrival = GetTickCount();
    }
    state.received.erase(state.received.begin(), state.received.begin() + static_cast<std::ptrdiff_t>(at));
    return sound;
}

// Starts a worker, which then gets ready while TaskRoll goes on. 0, or why not.
DWORD LaunchWorker(ReaderState& state)
{
    state.ready = false;
    DWORD error = StartWorker(&state.worker, state.start);
    if (state.worker.id != 0) {
        state.workerIds[state.starts % WORKER_IDS_MAX] = state.worker.id;
        ++state.starts;
    }
    if (error != 0)
        return error;
    try {
        state.chunk.resize(RECEIVE_CHUNK_BYTES);
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
    state.launchedAt = GetTickCount();
    return 0;
}

// Waits for the launched worker's word that it runs, so that starting a
// process (slow on a busy machine) never counts against a file's bound; then
// tells it the files that ended a worker before. 0, or why not.
DWORD AwaitWorker(ReaderState& state)
{
    for (;;) {
        ReaderFrame type;
        const std::uint8_t* body = nullptr;
        std::size_t bodyBytes = 0, frameBytes = 0;
        FrameSplit split = SplitReaderFrame(state.received.data(), state.received.size(), true, &type, &body,
                                            &bodyBytes, &frameBytes);
        if (split == FRAME_INVALID)
            return ERROR_INVALID_DATA;
        if (split == FRAME_WHOLE) {
            if (type != READER_FRAME_READY || bodyBytes != sizeof READER_READY_WORD - 1 ||
                std::memcmp(body, READER_READY_WORD, bodyBytes) != 0)
                return ERROR_INVALID_DATA;
            state.received.erase(state.received.begin(), state.received.begin() + static_cast<std::ptrdiff_t>(frameBytes));
            break;
        }
        const DWORD waited = GetTickCount() - state.launchedAt;
        if (waited >= WORKER_START_MS)
            return ERROR_TIMEOUT;
        if (Receive(state, WORKER_START_MS - waited) == RECEIVED_END)
            return ERROR_PROCESS_ABORTED;
    }
    state.ready = true;
    state.lastArrival = GetTickCount();
    std::vector<std::uint8_t> told;
    for (const FileFacts& facts : state.failedFiles)
        AppendReaderFrame(&told, READER_FRAME_FAILED_FILE, EncodeFileFacts(nullptr, facts));
    if (told.empty())
        return 0;
    OVERLAPPED writing = {};
    writing.hEvent = state.worker.sent.Get();
    DWORD moved = 0;
    if ((!WriteFile(state.worker.pipe.Get(), told.data(), static_cast<DWORD>(told.size()), nullptr, &writing) &&
         GetLastError() != ERROR_IO_PENDING) ||
        !GetOverlappedResult(state.worker.pipe.Get(), &writing, &moved, TRUE) || moved != told.size())
        return ERROR_WRITE_FAULT;
    return 0;
}

// Sends what the worker may have now, in one write: false when the pipe
// fails (the worker ended).
bool SendRequests(ReaderState& state)
{
    std::size_t inFlight = 0, bytes = 0;
    std::vector<std::uint8_t> frames;
    std::vector<Request*> sending;
    for (Request& request : state.requests) {
        if (request.resolved)
            continue;
        if (!request.sent && !request.wanted) {
            Resolve(&request, READER_REFUSED);  // asked for by nobody any more: not sent
            continue;
        }
        if (inFlight > 0 && (inFlight >= IN_FLIGHT_MAX || bytes + request.frame.size() > IN_FLIGHT_BYTES_MAX))
            break;
        ++inFlight;
        bytes += request.frame.size();
        if (!request.sent) {
            frames.insert(frames.end(), request.frame.begin(), request.frame.end());
            sending.push_back(&request);
        }
    }
    Trim(state);
    if (frames.empty())
        return true;
    OVERLAPPED writing = {};
    writing.hEvent = state.worker.sent.Get();
    DWORD moved = 0;
    if (!WriteFile(state.worker.pipe.Get(), frames.data(), static_cast<DWORD>(frames.size()), nullptr, &writing) &&
        GetLastError() != ERROR_IO_PENDING)
        return false;
    // The pipe's buffer holds all of it; a worker that reads nothing cannot
    // hold the write for long either.
    HANDLE waits[2] = {state.worker.sent.Get(), state.worker.process.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, WORKER_START_MS) != WAIT_OBJECT_0) {
        CancelIoEx(state.worker.pipe.Get(), &writing);
        GetOverlappedResult(state.worker.pipe.Get(), &writing, &moved, TRUE);
        return false;
    }
    if (!GetOverlappedResult(state.worker.pipe.Get(), &writing, &moved, TRUE) || moved != frames.size())
        return false;
    const DWORD now = GetTickCount();
    for (Request* request : sending) {
        request->sent = true;
        request->sentAt = now;
    }
    return true;
}

void RememberFailed(ReaderState& state, const Request& request)
{
    try {
        if (request.opened && state.failed.Add(request.facts, true))
            state.failedFiles.push_back(request.facts);
        auto at = std::lower_bound(state.failedPaths.begin(), state.failedPaths.end(), request.key);
        if (!request.key.empty() && state.failedPaths.size() < FAILED_FILES_MAX &&
            (at == state.failedPaths.end() || *at != request.key))
            state.failedPaths.insert(at, request.key);
    } catch (...) {
        // Out of memory: the file may be tried again, nothing worse.
    }
}

// The worker failed on `head`: it ended, used up its processor time or
// answered nonsense. The file is not tried again in the run.
void FailHead(ReaderState& state, Request* head)
{
    EndWorker(state);
    Resolve(head, READER_FAILED);
    RememberFailed(state, *head);
    if (head->type == READER_FRAME_DESCRIBE)
        head->lines.push_back(Line("The version reader process failed on file '%s' (it ended, used up its processor "
                                   "time or answered nonsense)",
                                   head->logName.c_str()));
}

// `head` ran out of time: it is tried once more, with the longer bound, in a
// new worker; after that it is not read.
void TimeOutHead(ReaderState& state, Request* head, DWORD startedAt)
{
    CountTimedOutTry(&state.budget, GetTickCount() - startedAt);
    EndWorker(state);
    if (++head->timedOut < 2)
        return;
    Resolve(head, READER_TIMED_OUT);
    RememberFailed(state, *head);
    if (head->type == READER_FRAME_DESCRIBE)
        head->lines.push_back(Line("The version reader process took longer than %lu ms on file '%s'; it is not read "
                                   "(time bound)",
                                   static_cast<unsigned long>(state.bounds.retryMs), head->logName.c_str()));
}

// Waits until `target` is answered or given up, within the bounds of each
// request the worker is on before it.
void Await(ReaderState& state, Request* target)
{
    while (!target->resolved) {
        if (state.budgetSpent || state.unavailable) {
            if (state.unavailable && target->type == READER_FRAME_DESCRIBE)
                target->lines.push_back(Line("File '%s' is not read: no version reader process can be started",
                                             target->logName.c_str()));
            Resolve(target, READER_REFUSED);
            return;
        }
        if (!state.ready) {
            DWORD error = state.worker.process ? 0 : LaunchWorker(state);
            if (error == 0)
                error = AwaitWorker(state);
            if (error != 0) {
                EndWorker(state);
                ++state.budget.startFailures;
                if (error == ERROR_TIMEOUT)
                    CountTimedOutTry(&state.budget, GetTickCount() - state.launchedAt);
                state.unavailable = !MayStartWorker(state.budget);
                if (target->type == READER_FRAME_DESCRIBE)
                    target->lines.push_back(Line("The version reader process cannot be started (error %lu); file "
                                                 "'%s' is not read",
                                                 static_cast<unsigned long>(error), target->logName.c_str()));
                else
                    target->lines.push_back(Line("The version reader process cannot be started (error %lu)",
                                                 static_cast<unsigned long>(error)));
                Resolve(target, READER_REFUSED);
                return;
            }
        }
        SendRequests(state);  // a pipe that failed shows as the worker's end below
        Request* head = Head(state);
        if (head == nullptr) {
            // Nothing sent, nothing on the way: the worker ended while it had
            // nothing to do. Its next start counts as one that failed.
            EndWorker(state);
            ++state.budget.startFailures;
            state.unavailable = !MayStartWorker(state.budget);
            continue;
        }
        const DWORD boundMs = TryBoundMs(state.budget, head->timedOut == 0 ? state.bounds.firstMs : state.bounds.retryMs);
        if (boundMs == 0) {
            state.budgetSpent = true;
            EndWorker(state);
            target->lines.push_back(Line("The version reader process ran out of time %u times (%lu ms in all); the "
                                         "files not yet read get the default description without being read",
                                         state.budget.timedOutTries,
                                         static_cast<unsigned long>(state.budget.timedOutMs)));
            Resolve(target, READER_REFUSED);
            return;
        }
        const DWORD now = GetTickCount();
        const DWORD began = static_cast<LONG>(head->sentAt - state.lastArrival) > 0 ? head->sentAt : state.lastArrival;
        if (Elapsed(began, now, boundMs)) {
            TimeOutHead(state, head, began);
        } else {
            const DWORD left = boundMs - (now - began);
            Received received = Receive(state, std::min(left, WAIT_SLICE_MS));
            if (received == RECEIVED_END) {
                FailHead(state, head);
            } else if (received == RECEIVED_DATA) {
                if (!TakeFrames(state))
                    FailHead(state, Head(state) != nullptr ? Head(state) : head);
            } else if (state.sampledFor != head->sequence) {
                state.sampledFor = head->sequence;
                state.sample = ProcessorTime(state.worker.process.Get());
            } else if (RequestUsedUpProcessor(state.sample, ProcessorTime(state.worker.process.Get()),
                                              state.bounds.processorMs)) {
                FailHead(state, head);
            }
        }
    }
}

// The lines of `target`, after those of requests that nobody asks for any
// more, in the order they came.
std::vector<std::string> LinesOf(ReaderState& state, Request* target)
{
    std::vector<std::string> lines;
    for (Request& request : state.requests) {
        if (&request != target && !request.wanted) {
            lines.insert(lines.end(), request.lines.begin(), request.lines.end());
            request.lines.clear();
        }
    }
    lines.insert(lines.end(), target->lines.begin(), target->lines.end());
    target->lines.clear();
    return lines;
}

Request* Enqueue(ReaderState& state, ReaderFrame type, std::vector<std::uint8_t> body, std::string key,
                 std::string logName)
{
    state.requests.emplace_back();
    Request& request = state.requests.back();
    request.sequence = state.nextSequence++;
    request.type = type;
    request.key = std::move(key);
    request.logName = std::move(logName);
    if (!AppendReaderFrame(&request.frame, type, body))
        Resolve(&request, READER_REFUSED);  // no request is that large
    return &request;
}

std::vector<std::uint16_t> UnitsOf(const wchar_t* text)
{
    return std::vector<std::uint16_t>(text, text + std::wcslen(text));
}

DescribeRequest DescribeOf(std::uint32_t sequence, const char* path, const wchar_t* widePath)
{
    DescribeRequest request;
    request.sequence = sequence;
    request.wide = widePath != nullptr;
    if (request.wide)
        request.widePath = UnitsOf(widePath);
    else
        request.path = path;
    return request;
}

void ConsumeAnswered(ReaderState& state, Request* request)
{
    request->wanted = false;
    Trim(state);
}

}  // namespace

void ExpectModuleFile(const char* path, const wchar_t* widePath)
{
    ReaderState& state = State();
    if (state.budgetSpent || state.unavailable)
        return;
    try {
        std::size_t expected = 0;
        for (const Request& request : state.requests)
            expected += request.wanted && !request.resolved ? 1 : 0;
        if (expected >= EXPECTED_MAX)
            return;
        const DescribeRequest request = DescribeOf(state.nextSequence, path, widePath);
        Enqueue(state, READER_FRAME_DESCRIBE, EncodeDescribeRequest(request), RequestKey(request),
                path != nullptr ? path : "");
        // Sent a few at a time, so that a write carries several; at once
        // where the worker has nothing to do. A pipe that fails here shows
        // when a record waits for its answer.
        if (state.ready && (++state.toldUnsent >= SEND_BATCH || Head(state) == nullptr)) {
            state.toldUnsent = 0;
            SendRequests(state);
        }
    } catch (...) {
        // Out of memory: the record asks for it itself.
    }
}

namespace {

void StartWorkerOf(ReaderState& state)
{
    if (state.worker.process || state.unavailable || state.budgetSpent)
        return;
    // A start that fails here is tried again, and counted, by the first
    // record that needs the worker.
    if (LaunchWorker(state) != 0)
        EndWorker(state);
}

DWORD WINAPI StartWorkerMeanwhile(void*)
{
    StartWorkerOf(StateOfRun());
    return 0;
}

}  // namespace

void StartVersionReader()
{
    StartWorkerOf(State());
}

void StartVersionReaderMeanwhile()
{
    AwaitStartingThread();
    // Where no thread can be made, the start is made here and now.
    StartingThread() = CreateThread(nullptr, 0, StartWorkerMeanwhile, nullptr, 0, nullptr);
    if (StartingThread() == nullptr)
        StartVersionReader();
}

void AwaitVersionReaderStart()
{
    AwaitStartingThread();
}

void DescribeModuleFile(const char* path, const wchar_t* widePath, const char* logPath, ModuleReply* reply)
{
    ReaderState& state = State();
    reply->outcome = READER_REFUSED;
    reply->answer = DescribeAnswer();
    reply->lines.clear();
    Request* request = nullptr;
    try {
        const DescribeRequest asked = DescribeOf(state.nextSequence, path, widePath);
        const std::string key = RequestKey(asked);
        if (std::binary_search(state.failedPaths.begin(), state.failedPaths.end(), key)) {
            reply->outcome = READER_FAILED;
            reply->lines.push_back(
                Line("File '%s' ended the version reader process before; it is not read again", logPath));
            return;
        }
        // The first request told ahead for this path is this record's; those
        // before it were told for records that named another file since.
        for (Request& told : state.requests) {
            if (told.type != READER_FRAME_DESCRIBE || !told.wanted)
                continue;
            if (told.key == key) {
                request = &told;
                break;
            }
            told.wanted = false;
        }
        if (request == nullptr)
            request = Enqueue(state, READER_FRAME_DESCRIBE, EncodeDescribeRequest(asked), key, logPath);
        request->logName = logPath;
        Await(state, request);
        reply->outcome = request->outcome;
        reply->lines = LinesOf(state, request);
        if (reply->outcome == READER_ANSWERED &&
            !DecodeDescribeAnswer(request->body.data(), request->body.size(), &reply->answer))
            reply->outcome = READER_FAILED;  // checked as it came: not reached
    } catch (...) {
        reply->outcome = READER_REFUSED;  // out of memory: not read
    }
    if (request != nullptr)
        ConsumeAnswered(state, request);
}

namespace {

// One request that a record waits for at once (not told ahead): its outcome,
// and the body of its answer in `answer`. The reader's own lines are logged.
ReaderAnswer AskNow(ReaderFrame type, const std::vector<std::uint8_t>& body, std::vector<std::uint8_t>* answer)
{
    ReaderState& state = State();
    answer->clear();
    Request* request = nullptr;
    ReaderAnswer outcome = READER_REFUSED;
    try {
        request = Enqueue(state, type, body, std::string(), std::string());
        Await(state, request);
        for (const std::string& line : LinesOf(state, request))
            LogMessage("%s", line.c_str());
        outcome = request->outcome;
        answer->swap(request->body);
    } catch (...) {
        outcome = READER_REFUSED;  // out of memory: not asked
    }
    if (request != nullptr)
        ConsumeAnswered(state, request);
    return outcome;
}

}  // namespace

ReaderAnswer AskJavaLookup(const std::vector<unsigned char>& lookup, std::vector<unsigned char>* answer)
{
    JavaFrame frame, answered;
    frame.sequence = State().nextSequence;
    frame.lookup = lookup;
    std::vector<std::uint8_t> body;
    const ReaderAnswer outcome = AskNow(READER_FRAME_JAVA, EncodeJavaFrame(frame), &body);
    answer->clear();
    if (outcome == READER_ANSWERED && DecodeJavaFrame(body.data(), body.size(), &answered))
        answer->swap(answered.lookup);
    return outcome;
}

bool ExpandPathInWorker(const wchar_t* path, bool shortForm, std::wstring* expanded)
{
    PathFrame frame, answered;
    frame.sequence = State().nextSequence;
    frame.flag = shortForm;
    expanded->clear();
    try {
        frame.path = UnitsOf(path);
        std::vector<std::uint8_t> body;
        if (AskNow(READER_FRAME_EXPAND, EncodePathFrame(frame), &body) == READER_ANSWERED &&
            DecodePathFrame(body.data(), body.size(), &answered) && answered.flag)
            expanded->assign(answered.path.begin(), answered.path.end());
    } catch (...) {
        expanded->clear();  // out of memory: not expanded
    }
    return !expanded->empty();
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

void UseVersionReader(const wchar_t* program, const VersionReaderBounds* bounds)
{
    ReaderState& state = State();
    EndWorker(state);
    state.requests.clear();
    state.unavailable = false;
    state.budgetSpent = false;
    state.budget = ReaderBudget();
    state.start.program = program != nullptr ? program : L"";
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
    EndWorker(state);
    state.requests.clear();
    state.failed = KnownFiles<bool>(FAILED_FILES_MAX);
    state.failedFiles.clear();
    state.failedPaths.clear();
}

void WatchVersionReaderPipeNames(PipeNameWatch watch, void* context)
{
    State().start.watchPipeName = watch;
    State().start.watchContext = context;
}
