#pragma once
// TaskRoll's exit codes, and the decisions on the files a run writes, from
// what the handle of each opened file tells. Run as SYSTEM in a directory that
// users can write to, a processes.dat or a taskroll.log that is a link would
// have TaskRoll write whatever the link's maker chose; the verdict refuses such
// a file before a byte changes. The listing goes to a new file of its own
// name first, which replaces processes.dat only when it is whole.
#include <cstddef>
#include <cstdint>

// Why a run produced no listing, which is also TaskRoll's exit code; 0 when it did.
enum RunFailure {
    RUN_LISTED = 0,
    RUN_CURRENT_DIRECTORY_TOO_LONG = 1,
    RUN_ICONS_DIRECTORY_FAILED = 2,
    RUN_OUTPUT_NOT_OPENED = 3,
    RUN_OUTPUT_NOT_WRITTEN = 4,
    RUN_ENUMERATION_FAILED = 5,
    RUN_OUTPUT_NOT_REPLACED = 6,
};

// Why a file was not opened or not written (RUN_OUTPUT_NOT_OPENED for the output).
enum OutputRefusal {
    OUTPUT_OPEN_FAILED,       // the open itself failed (a directory, no access, read-only)
    OUTPUT_IS_REPARSE_POINT,  // a symbolic link or another reparse point: its target is not written
    OUTPUT_HAS_LINKS,         // a file with other hard links, which writing it would change too
};

// What the system tells of processes.dat (or of the debug log), opened
// without following a reparse point, so that a link shows as itself.
struct OutputFileFacts {
    bool opened;          // the open gave a handle
    bool described;       // the handle told the attributes and links below
    bool reparsePoint;    // the attributes hold FILE_ATTRIBUTE_REPARSE_POINT
    unsigned long links;  // the file's names (hard links), this one included
    bool missing;         // there is no such file yet: the run creates it (not opened then)
    bool directory;       // the attributes hold FILE_ATTRIBUTE_DIRECTORY
    bool readOnly;        // the attributes hold FILE_ATTRIBUTE_READONLY
};

struct OutputVerdict {
    int failure;            // RUN_LISTED: the listing goes ahead; otherwise RUN_OUTPUT_NOT_OPENED
    OutputRefusal refusal;  // why not
};

// The verdict on processes.dat before the listing. A read-only one is refused
// as its truncation always was: the replace would be refused at the end.
OutputVerdict JudgeOutputFile(const OutputFileFacts& facts);
// The verdict on a debug log that has been opened (or created): the log is
// written only where the output would be.
OutputVerdict JudgeLogFile(const OutputFileFacts& facts);

// What the line on standard error names as the cause of a run without a
// listing: the failure's own text, or for a refused output file which link
// it is. An empty text for RUN_LISTED or a code not listed.
const char* RunFailureCause(int failure, OutputRefusal refusal);
// Why a debug log is not written, for its line on standard error: empty for
// OUTPUT_OPEN_FAILED, whose reason is the system's own message.
const char* LogRefusalReason(OutputRefusal refusal);

// The attributes (FILE_ATTRIBUTE_* values) of the replaced processes.dat that
// its successor takes over: hidden, system, archive, not content-indexed.
// Read-only is refused before the listing; the others tell the file system's
// own state (compressed, sparse, a link) and are not set by hand.
std::uint32_t CarriedAttributes(std::uint32_t attributes);

// The new file of a run: "processes.dat." followed by 16 lower-case hex digits
// of 64 random bits and ".new". It is created only where no file of the name
// exists, so nobody can take or plant it in advance.
constexpr std::size_t STAGING_NAME_SIZE = 35;  // 14 + 16 + 4 characters and the NUL
void MakeStagingName(std::uint64_t random, wchar_t (&name)[STAGING_NAME_SIZE]);
// True for a name of that pattern exactly, as a file name (no directory):
// only such a file is a leftover of a run that was killed.
bool IsStagingName(const wchar_t* name);

// A leftover of the staging pattern is removed only when its handle, opened
// without following a link, tells a plain file with one name.
bool IsRemovableLeftover(const OutputFileFacts& facts);
