#include "internal.h"

#include "files.h"
#include "readerworker.h"
#include "settings.h"
#include "text.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

// The worker's side: it reads TaskRoll's frames from its standard input,
// describes each file asked for and writes the answers to its standard
// output, in the order asked. An answer that costs no open (a path spelled
// as before) waits to go with the next ones; before anything that may take
// time (an open, a read), what is waiting is written, so that TaskRoll
// always knows which request the worker is on.

namespace {

constexpr std::size_t INPUT_CHUNK_BYTES = 64 * 1024;

struct WorkerIo {
    std::vector<std::uint8_t> input;  // received, not yet taken apart
    std::vector<std::uint8_t> output;  // answers not yet written
    HANDLE out = INVALID_HANDLE_VALUE;
    bool batching = false;  // the true worker's: a stand-in answers each request at once
};

WorkerIo& Io()
{
    static WorkerIo io;
    return io;
}

DescribedFiles& Described()
{
    static DescribedFiles files;
    return files;
}

bool WriteAll(HANDLE pipe, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        DWORD count = 0;
        if (!WriteFile(pipe, bytes, static_cast<DWORD>(size), &count, nullptr) || count == 0)
            return false;
        bytes += count;
        size -= count;
    }
    return true;
}

bool Flush()
{
    WorkerIo& io = Io();
    bool written = io.output.empty() || WriteAll(io.out, io.output.data(), io.output.size());
    io.output.clear();
    return written;
}

std::string TextOfPath(const DescribeRequest& request)
{
    if (!request.wide)
        return request.path;
    return ToAnsi(std::wstring(request.widePath.begin(), request.widePath.end()));
}

std::vector<unsigned char>& Block()
{
    static std::vector<unsigned char> block;  // one buffer for the worker's run
    return block;
}

// The strings a record takes from the version resource in `block`.
void TakeStrings(const std::vector<unsigned char>& block, DescribeAnswer* answer)
{
    answer->state = DESCRIBED_READ;
    VersionTree tree;
    answer->damaged = CheckVersionTree(block.data(), block.size(), &tree);
    ChooseStrings(tree, answer->strings);
}

// The system's read of a file that passed the check, and the strings a
// record takes from what it read.
void ReadChecked(const PinnedFile& pinned, std::uint32_t smallestResource, DescribeAnswer* answer)
{
    std::vector<unsigned char>& block = Block();
    switch (AskSystem(pinned, smallestResource, &block)) {
    case SYSTEM_READ_NONE:
        return;
    case SYSTEM_READ_FAILED:
        answer->state = DESCRIBED_UNREADABLE;
        return;
    case SYSTEM_READ_TOO_LARGE:
        answer->state = DESCRIBED_READ;
        answer->damaged = true;
        return;
    case SYSTEM_READ_DONE:
        break;
    }
    TakeStrings(block, answer);
}

// Before the system reads the pinned file, its identity goes to TaskRoll:
// should the read end the worker, TaskRoll knows the file, however it is
// spelled next. The worker's own read of a located resource needs none.
void TellIdentity(std::uint32_t sequence, PinnedFile* pinned)
{
    if (!IsKnowable(pinned->facts))
        pinned->facts = FactsOf(pinned->file.Get(), pinned->sketch);
    if (IsKnowable(pinned->facts)) {
        AppendReaderFrame(&Io().output, READER_FRAME_OPENED, EncodeFileFacts(&sequence, pinned->facts));
        Flush();
    }
}

// The check, and the read of a file that passes it: the worker's own where
// the check located the resource, else the system's.
void CheckAndRead(const char* path, std::uint32_t sequence, PinnedFile* pinned, BeforeSystemRead beforeRead,
                  DescribeAnswer* answer)
{
    ResourceFacts sizes;
    ResourceCheck check = CheckFile(pinned->file.Get(), &sizes);
    if (check == RESOURCE_PATH_INTACT && sizes.languageNeutral) {
        PinFile(path, pinned);
        LanguageFiles files;
        files.facts = sizes;
        try {
            CheckLanguageFiles(pinned, &files);
        } catch (...) {
            files.damaged = true;  // out of memory: unchecked files stay unread
        }
        check = files.damaged ? RESOURCE_PATH_DAMAGED : check;
        sizes = files.facts;
    }
    if (check == RESOURCE_PATH_DAMAGED) {
        // Nothing of it reaches the system: the default texts stand.
        answer->state = DESCRIBED_READ;
        answer->damaged = true;
    } else if (check == RESOURCE_PATH_INTACT && sizes.largest == 0) {
        // A module without a version resource: the system would find none.
    } else if (sizes.located) {
        // Read on the checked handle, which nobody can write meanwhile and
        // whose file no change of its folders can replace: no folder is held.
        if (beforeRead != nullptr)
            beforeRead(path);
        if (ReadLocatedResource(pinned->file.Get(), sizes, &Block())) {
            TakeStrings(Block(), answer);
        } else {
            PinFile(path, pinned);
            TellIdentity(sequence, pinned);
            ReadChecked(*pinned, sizes.smallest, answer);
        }
    } else {
        if (pinned->widePath.empty())
            PinFile(path, pinned);
        TellIdentity(sequence, pinned);
        if (beforeRead != nullptr)
            beforeRead(path);
        ReadChecked(*pinned, sizes.smallest, answer);
    }
}

// Describes the file that `request` names. A path spelled as before, or
// another spelling of a file described before, is answered from what the
// worker kept of it, with no read.
void Describe(const DescribeRequest& request, BeforeSystemRead beforeRead, DescribeAnswer* answer)
{
    *answer = DescribeAnswer();
    answer->sequence = request.sequence;
    const std::string key = RequestKey(request);
    if (const DescribeAnswer* kept = Described().FindPath(key)) {
        *answer = *kept;
        answer->sequence = request.sequence;
        answer->reused = true;
        return;
    }
    Flush();
    // The file is checked, pinned and read on the native file system (the
    // 32-bit build describes System32 itself).
    handles::NativeViewScope native;
    const std::wstring wide(request.widePath.begin(), request.widePath.end());
    const wchar_t* unicodePath = request.wide ? wide.c_str() : nullptr;
    const char* path = request.path.c_str();
    const std::string named = TextOfPath(request);
    handles::FileHandle checked;
    FileKind kind = unicodePath != nullptr ? CheckFileKind(unicodePath, &checked) : CheckFileKind(path, &checked);
    if (kind != FILE_ON_DISK) {
        answer->kind = kind == FILE_MISSING ? DESCRIBED_MISSING : DESCRIBED_NOT_ON_DISK;
        return;
    }
    answer->kind = DESCRIBED_FILE;
    // Where an open without access rights was refused, one for reading may
    // still be granted.
    if (!checked)
        checked.Reset(OpenForReadingOnly(path, unicodePath));
    if (!checked)
        return;
    FileSketch sketch = SketchOf(checked.Get());
    if (sketch.directory)
        return;  // a directory has no resource
    // Its id is asked only where a file described or failed before has its
    // size and last write: no other can be the same file.
    FileFacts facts;
    if (Described().MayHold(sketch)) {
        facts = FactsOf(checked.Get(), sketch);
        if (const DescribeAnswer* kept = Described().FindFile(facts, key)) {
            *answer = *kept;
            answer->sequence = request.sequence;
            answer->reused = true;
            return;
        }
        if (Described().Failed(facts)) {
            answer->failedBefore = true;
            return;
        }
    }
    // A file that cannot be reopened shared for reading only (its reading is
    // refused, or someone holds it open for writing) is not given to the
    // system, and nothing is kept of it.
    PinnedFile pinned;
    bool byPath = false;
    pinned.file = ReopenForReading(named.c_str(), unicodePath, checked.Get(), &sketch, &byPath);
    if (!pinned.file)
        return;
    pinned.finalPath.swap(sketch.finalPath);
    pinned.sketch = std::move(sketch);
    pinned.facts = byPath ? FileFacts() : facts;
    pinned.unicodePath = unicodePath;
    CheckAndRead(named.c_str(), request.sequence, &pinned, beforeRead, answer);
    // Held for the worker's run, so that this spelling keeps naming the file
    // described; the pinned handle and the folders go now.
    handles::FileHandle held(ReOpenFile(pinned.file.Get(), FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, 0));
    Described().Keep(pinned.sketch, pinned.facts, key, *answer, std::move(held));
}

}  // namespace

bool ReadVersionRequest(HANDLE input, VersionRequest* request)
{
    WorkerIo& io = Io();
    for (;;) {
        ReaderFrame type;
        const std::uint8_t* body = nullptr;
        std::size_t bodyBytes = 0, frameBytes = 0;
        FrameSplit split =
            SplitReaderFrame(io.input.data(), io.input.size(), false, &type, &body, &bodyBytes, &frameBytes);
        if (split == FRAME_INVALID)
            return false;
        if (split == FRAME_WHOLE) {
            bool sound = true;
            request->type = type;
            if (type == READER_FRAME_FAILED_FILE) {
                FileFacts facts;
                sound = DecodeFileFacts(body, bodyBytes, nullptr, &facts);
                if (sound)
                    Described().AddFailed(facts);
            } else if (type == READER_FRAME_DESCRIBE) {
                sound = DecodeDescribeRequest(body, bodyBytes, &request->describe);
                if (sound)
                    request->path = TextOfPath(request->describe);
            } else if (type == READER_FRAME_EXPAND) {
                sound = DecodePathFrame(body, bodyBytes, &request->expand);
            } else {
                sound = DecodeJavaFrame(body, bodyBytes, &request->java);
            }
            io.input.erase(io.input.begin(), io.input.begin() + static_cast<std::ptrdiff_t>(frameBytes));
            if (!sound)
                return false;
            if (type == READER_FRAME_FAILED_FILE)
                continue;
            return io.batching || Flush();
        }
        // Nothing to do until TaskRoll asks again: no folder stays held meanwhile.
        ReleaseFolders();
        if (!Flush())
            return false;
        const std::size_t have = io.input.size();
        io.input.resize(have + INPUT_CHUNK_BYTES);
        DWORD count = 0;
        if (!ReadFile(input, io.input.data() + have, INPUT_CHUNK_BYTES, &count, nullptr) || count == 0)
            return false;
        io.input.resize(have + count);
    }
}

bool AnswerVersionRequest(HANDLE output, const VersionRequest& request, BeforeSystemRead beforeRead)
{
    WorkerIo& io = Io();
    io.out = output;
    try {
        if (request.type == READER_FRAME_DESCRIBE) {
            DescribeAnswer answer;
            Describe(request.describe, beforeRead, &answer);
            AppendReaderFrame(&io.output, READER_FRAME_DESCRIBED, EncodeDescribeAnswer(answer));
        } else if (request.type == READER_FRAME_EXPAND) {
            Flush();
            PathFrame answer;
            answer.sequence = request.expand.sequence;
            const std::wstring path(request.expand.path.begin(), request.expand.path.end());
            wchar_t expanded[PATH_BUFFER_SIZE] = {};
            handles::NativeViewScope native;
            const DWORD length = request.expand.flag ? GetShortPathNameW(path.c_str(), expanded, PATH_BUFFER_SIZE)
                                                     : GetLongPathNameW(path.c_str(), expanded, PATH_BUFFER_SIZE);
            native.End();
            answer.flag = length > 0 && length < PATH_BUFFER_SIZE;
            for (DWORD i = 0; answer.flag && i < length; ++i)
                answer.path.push_back(static_cast<std::uint16_t>(expanded[i]));
            AppendReaderFrame(&io.output, READER_FRAME_EXPANDED, EncodePathFrame(answer));
        } else {
            Flush();
            JavaFrame answer;
            answer.sequence = request.java.sequence;
            if (!AnswerJavaLookup(request.java.lookup.data(), request.java.lookup.size(), &answer.lookup))
                return false;
            AppendReaderFrame(&io.output, READER_FRAME_JAVA_ANSWER, EncodeJavaFrame(answer));
        }
    } catch (...) {
        return false;  // out of memory: the worker ends, and TaskRoll takes the file as failed
    }
    if (io.batching)
        return true;
    ReleaseFolders();
    return Flush();
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
    // VERSION is loaded before the worker says it runs, outside the native
    // file-system view: System32 then names the build's own system folder.
    LoadVersionFunctions();
    std::vector<std::uint8_t> ready;
    AppendReaderFrame(&ready, READER_FRAME_READY,
                      std::vector<std::uint8_t>(READER_READY_WORD, READER_READY_WORD + sizeof READER_READY_WORD - 1));
    Io().out = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteAll(Io().out, ready.data(), ready.size());
}

int RunVersionReader()
{
    EnterVersionReaderProcess();
    Io().batching = true;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    VersionRequest request;
    while (ReadVersionRequest(input, &request) && AnswerVersionRequest(output, request)) {
    }
    Flush();
    return 0;
}
