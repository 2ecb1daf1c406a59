#pragma once
// The system's version functions, asked in a worker process. Those functions
// map the file their own way and trust what they find there, so a crafted
// file can crash them or keep them busy for seconds. In a worker, such a file
// ends or stalls only the worker: TaskRoll takes the file as damaged, starts
// another worker for the next file, and the listing goes on.
#include "knownfiles.h"

#include <windows.h>

#include <cstddef>
#include <vector>

// The argument that makes TaskRoll the worker. No option of TaskRoll starts
// with "/~", so no user command line can mean it by chance.
constexpr char VERSION_READER_ARGUMENT[] = "/~versionreader";

// The most that GetFileVersionInfoSizeA can ask for a file that passed the
// check (a resource of 64 KiB at most): the resource, room for the ANSI copies
// that the query function makes of an old 8-bit resource's texts, and a
// signature. A larger answer did not come from a checked file.
constexpr DWORD VERSION_BLOCK_MAX_BYTES = 4 * 0x10000 + 4;

enum SystemRead {
    SYSTEM_READ_NONE,       // the system found no version resource (or could not size it)
    SYSTEM_READ_FAILED,     // it has one, but no memory for it or the read failed
    SYSTEM_READ_TOO_LARGE,  // the system asked for more than VERSION_BLOCK_MAX_BYTES
    SYSTEM_READ_DONE,       // `block` holds what the system wrote
    SYSTEM_READ_CRASHED,    // the worker ended or took too long on this file, now or earlier in the run
    SYSTEM_READ_REFUSED,    // no worker could be asked (none starts, or the run's time budget is spent)
};

// Has the system read the version resource of the file at `path` (which must
// stay the checked file while this runs: see versioninfo.cpp) into `block`,
// in the worker, started at the first call of a run. The system is never
// asked in this process: a file that no worker can read is not read (logged).
// `smallestResource` is the size of the smallest version resource that the
// check found (0: unknown), which tells when one read of the system is enough.
// `widePath`, where given, is the path the system is given, one the code page
// cannot hold; `path` then only names the file in the log.
SystemRead ReadVersionBlock(const char* path, const FileFacts& file, std::uint32_t smallestResource,
                            std::vector<unsigned char>* block, const wchar_t* widePath = nullptr);

// How a request to the worker ended.
enum ReaderAnswer {
    READER_ANSWERED,        // the worker answered
    READER_TIMED_OUT,       // it ran out of time on the request (the log says so)
    READER_FAILED,          // it ended, used up its processor time or answered nonsense on the request
    READER_REFUSED,         // no worker could be asked (none starts, or the run's time budget is spent)
};

// Asks the worker the Java lookup `request` (the bytes that EncodeJavaRequest
// made), within one deadline over all of its opens and reads; `answer` gets
// the bytes of the worker's reply, which the caller checks as untrusted.
ReaderAnswer AskJavaLookup(const std::vector<unsigned char>& request, std::vector<unsigned char>* answer);

// The worker's side of a Java lookup: the reply to the request bytes
// `request`. False when they are no valid request (the worker then ends).
bool AnswerJavaLookup(const unsigned char* request, std::size_t size, std::vector<unsigned char>* answer);

// True for a worker that this run started: the listing leaves it out, as it
// leaves out TaskRoll's own process.
bool IsVersionReaderProcess(DWORD processId);

// The worker's main: answers the requests that arrive on standard input on
// standard output, until the input ends. Its exit code is 0.
int RunVersionReader();
