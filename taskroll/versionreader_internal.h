#pragma once
// What the tests of the version reader reach besides its interface: another
// program as the worker (a stand-in that crashes or stalls on purpose), shorter
// bounds, and the worker's side of one request, for such a stand-in.
#include "versionreader.h"

#include <string>

struct VersionReaderBounds {
    DWORD firstMs;      // wall-clock time for a file's first try
    DWORD retryMs;      // wall-clock time for its one more try
    DWORD processorMs;  // the worker's own processor time, where the system counts it
};

// A real version read takes milliseconds. One second of the worker's time is
// far beyond any valid file, and short enough that no file slows a run much.
// Wall-clock time is not the worker's own on a busy machine, so a file that
// runs out of it is tried once more with a longer bound before it is taken as
// damaged; the worker's processor time, where the system counts it (Windows
// does, Wine does not), ends a try as soon as it passes its bound.
constexpr VersionReaderBounds VERSION_READER_BOUNDS = {1000, 5000, 1000};

// The worker is `program` started with VERSION_READER_ARGUMENT (TaskRoll.exe
// beside a test program: the test program itself is no worker). A running
// worker is stopped first. Null `bounds` keeps the ones in force.
void UseVersionReader(const wchar_t* program, const VersionReaderBounds* bounds);
// How many workers this process has started so far.
unsigned VersionReaderStarts();
// Ends the worker and forgets the files that ended one.
void StopVersionReader();

// Makes this process a worker: a crash ends it at once.
void EnterVersionReaderProcess();
// One request as the worker reads it from `input`: false at the input's end.
bool ReadVersionRequest(HANDLE input, std::string* path);
// The system's answer for `path`, written to `output`; false when it cannot be written.
bool AnswerVersionRequest(HANDLE output, const std::string& path);
