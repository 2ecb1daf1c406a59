#pragma once
// The files a record describes, asked of a worker process. TaskRoll's own
// process opens none of them: the worker checks each file's headers, its
// language files and the system's version read of it, and answers with the
// strings a record takes. The system's version functions map a file their
// own way and trust what they find there, so a crafted file can crash them
// or keep them busy; an open can be held back by whoever holds the file. In
// a worker, such a file ends or stalls only the worker: TaskRoll takes the
// file as damaged, starts another worker for the next file, and the listing
// goes on. TaskRoll tells the worker the files it will ask for as soon as it
// knows them, and the worker reads them while TaskRoll goes on.
#include "readerprotocol.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// The argument that makes TaskRoll the worker. No option of TaskRoll starts
// with "/~", so no user command line can mean it by chance.
constexpr char VERSION_READER_ARGUMENT[] = "/~versionreader";

// How a request to the worker ended.
enum ReaderAnswer {
    READER_ANSWERED,        // the worker answered
    READER_TIMED_OUT,       // it ran out of time on the request (the log says so)
    READER_FAILED,          // it ended, used up its processor time or answered nonsense on the request
    READER_REFUSED,         // no worker could be asked (none starts, or the run's time budget is spent)
};

// What the worker said of a module file, or why it said nothing, with the
// reader's own log lines for the file, to be logged where the record's
// lines put them.
struct ModuleReply {
    ReaderAnswer outcome = READER_REFUSED;
    DescribeAnswer answer;  // for READER_ANSWERED: checked as untrusted bytes already
    std::vector<std::string> lines;
};

// Asks the worker to describe the module file at `path`, or at `widePath`
// where the code page cannot hold it; `logPath` names it in the lines.
void DescribeModuleFile(const char* path, const wchar_t* widePath, const char* logPath, ModuleReply* reply);

// Starts the worker, if none runs, without waiting for it: it gets ready
// while TaskRoll enumerates processes or reads the list.
void StartVersionReader();
// The same on a thread of its own, while the caller enumerates the
// processes: the system makes the worker's process meanwhile.
// AwaitVersionReaderStart waits for that thread (any other call of the
// reader does too), before the caller writes a line of the log.
void StartVersionReaderMeanwhile();
void AwaitVersionReaderStart();

// Tells the reader a file that a later record will ask for in this order,
// so that the worker can read it meanwhile. A file never asked for costs
// only its read.
void ExpectModuleFile(const char* path, const wchar_t* widePath);

// Asks the worker the Java lookup `request` (the bytes that EncodeJavaRequest
// made), within one deadline over all of its opens and reads; `answer` gets
// the bytes of the worker's reply, which the caller checks as untrusted.
ReaderAnswer AskJavaLookup(const std::vector<unsigned char>& request, std::vector<unsigned char>* answer);

// The worker's side of a Java lookup: the reply to the request bytes
// `request`. False when they are no valid request (the worker then ends).
bool AnswerJavaLookup(const unsigned char* request, std::size_t size, std::vector<unsigned char>* answer);

// The long form (or, with `shortForm`, the short form) of `path`, as the
// worker's file system gives it: the system looks up every folder on the
// way, which are a user's. False where the worker gives none (the path has
// no such form, or no worker answers).
bool ExpandPathInWorker(const wchar_t* path, bool shortForm, std::wstring* expanded);

// True for a worker that this run started: the listing leaves it out, as it
// leaves out TaskRoll's own process.
bool IsVersionReaderProcess(DWORD processId);

// The worker's main: answers the requests that arrive on standard input on
// standard output, until the input ends. Its exit code is 0.
int RunVersionReader();
