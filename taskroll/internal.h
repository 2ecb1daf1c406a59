#pragma once
// What the tests reach beyond the interfaces of TaskRoll's files (taskroll.h),
// grouped by the file that defines it.
#include "perfdata.h"
#include "readerprotocol.h"
#include "versionreader.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// debuglog.cpp
bool IsLogOpen();
// The log path for an executable path: the lower-cased path with the ".exe"
// of its file name replaced by ".log". False when the file name does not end
// in ".exe" (in any case) or the result does not fit.
bool MakeLogPath(const char* executablePath, char* logPath, unsigned logPathSize);

// javacmd.cpp
// "<TEMP>\hsperfdata_<user name>\" (the process id is appended to it), or
// empty when the user name cannot be read or TEMP is not set: no lookup then.
std::string GetPerfDataDir();

// listing.cpp
// The ids of the running processes, in the system's order. The table starts
// with `initialCount` entries and doubles until the system leaves part of it
// unused, so no process is cut off. False when the enumeration fails.
bool EnumerateProcessIds(std::vector<DWORD>* processIds, std::size_t initialCount);

// namelist.cpp
// Empties the list, so that a new reading starts from nothing.
void ClearNameList();

// perffile.cpp
// The value after `key` in the file, with no owner rule and no budget: the
// codes of ReadPerfDataFile.
int ReadPerfDataValue(const std::string& filePath, const std::string& key, std::string& value);

// privilege.cpp
// Enables the named privilege in the process token and logs the outcome.
// 0 when it is enabled; otherwise the system's error code, ERROR_NOT_ALL_ASSIGNED
// when the token does not hold the privilege at all.
DWORD EnablePrivilege(const char* privilegeName);

// versioninfo.cpp
// Bounded printf into `buffer`; a text that does not fit is cut to size - 1
// characters. Returns the number of characters written, NUL excluded.
int FormatString(char* buffer, int size, const char* format, ...);

// versionreader.cpp: another program as the worker (a stand-in that crashes or
// stalls on purpose), shorter bounds, and the worker's side of one request.
struct VersionReaderBounds {
    DWORD firstMs;      // wall-clock time for a file's first try
    DWORD retryMs;      // wall-clock time for its one more try
    DWORD processorMs;  // the worker's own processor time for one request, where the system counts it
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
// Has `watch` called with each name of a worker's pipe just before the pipe
// is made (null: none), so that a test can take the name first.
using PipeNameWatch = void (*)(const wchar_t* name, void* context);
void WatchVersionReaderPipeNames(PipeNameWatch watch, void* context);

// Makes this process a worker (a crash ends it at once) and says so to TaskRoll.
void EnterVersionReaderProcess();
// One request as the worker reads it; `path` names its file as text (a
// UTF-16 path converted as the code page can), for a stand-in to look at.
struct VersionRequest {
    ReaderFrame type = READER_FRAME_DESCRIBE;
    DescribeRequest describe;
    JavaFrame java;
    PathFrame expand;
    std::string path;
};
// The next request from `input`: false at the input's end or at bytes that
// are no request. Frames that only inform the worker are taken on the way.
bool ReadVersionRequest(HANDLE input, VersionRequest* request);
// The worker's answer to `request`, written to `output` (or kept to go with
// the next ones, where the worker batches them); false when it cannot be
// written. `beforeRead`, where given, is called with the file's path just
// before the system reads the checked file.
using BeforeSystemRead = void (*)(const std::string& path);
bool AnswerVersionRequest(HANDLE output, const VersionRequest& request, BeforeSystemRead beforeRead = nullptr);
