#pragma once
// processes.dat, replaced whole: the listing goes to a new file of the run's
// own in the same directory, which takes the place of processes.dat by one
// rename once it is complete. A run that fails or is killed leaves the
// previous file as it was.
#include "handles.h"
#include "outputfile.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

// The run's new file, from its creation to the replace.
struct OutputStage {
    std::wstring directory;     // processes.dat's directory, in the \\?\ form, no backslash at the end
    handles::FileHandle file;   // the new file, held without delete sharing until it is renamed or removed
    std::wstring stagingName;   // its name in that directory
    bool replacing = false;     // processes.dat exists and is taken over
    std::uint32_t attributes = 0;     // the attributes it passes on
    handles::LocalMemory security;    // its security descriptor (the DACL), for the new file
};

// Checks processes.dat as today (through no planted link; the verdict in
// core/outputfile), removes what killed runs left in its directory and
// creates the new file. RUN_LISTED with a text-mode stream for the records in
// `stream`; otherwise RUN_OUTPUT_NOT_OPENED with the reason in `refusal` and
// errno set as fopen would.
int BeginOutput(const wchar_t* outputPath, OutputStage* stage, FILE** stream, OutputRefusal* refusal);
// After the stream was closed without an error: flushes the new file to the
// disk, gives it processes.dat's attributes and security and renames it over
// processes.dat. RUN_LISTED, or the failure (logged), the new file removed.
int FinishOutput(OutputStage* stage);
// Removes the new file of a run that failed.
void DiscardOutput(OutputStage* stage);

// CreateFileW that never waits on another user: an open that the system holds
// back (an oplock that a user keeps on the file or its directory) is cancelled
// after a deadline, and fails with ERROR_TIMEOUT.
HANDLE CreateFileWithin(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
