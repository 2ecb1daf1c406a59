#pragma once
// The version reader's worker process: started from TaskRoll's own program
// with a restricted token at Low integrity, suspended until it is in a job
// that ends it with TaskRoll, bounds its memory, lets it start no process and
// keeps it off the desktop, and given one end of a pipe that nobody else can
// open as its standard input and output.
#include "handles.h"
#include "internal.h"
#include "readerpolicy.h"

#include <windows.h>

#include <string>

struct Worker {
    handles::JobHandle job;
    handles::ProcessHandle process;
    handles::FileHandle pipe;       // TaskRoll's end, overlapped
    handles::EventHandle received;  // for reads on `pipe`
    handles::EventHandle sent;      // for writes on `pipe`
    DWORD id = 0;
};

struct WorkerStart {
    std::wstring program;  // empty: TaskRoll's own executable
    PipeNameWatch watchPipeName = nullptr;
    void* watchContext = nullptr;
};

// Starts the worker: 0, or the error that stopped it (`worker` then holds
// what was made, for StopWorker).
DWORD StartWorker(Worker* worker, const WorkerStart& start);
// Ends the worker, if one runs, and forgets it.
void StopWorker(Worker* worker);
// The worker's processor time so far, where the system counts it.
ProcessorSample ProcessorTime(HANDLE process);
