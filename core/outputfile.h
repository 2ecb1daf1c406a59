#pragma once
// TaskRoll's exit codes, and the verdict on processes.dat from what the handle
// of the opened file tells. Run as SYSTEM in a directory that users can write
// to, a processes.dat that is a link would have TaskRoll truncate whatever the
// link's maker chose; the verdict refuses such a file before a byte changes.

// Why a run produced no listing, which is also TaskRoll's exit code; 0 when it did.
enum RunFailure {
    RUN_LISTED = 0,
    RUN_CURRENT_DIRECTORY_TOO_LONG = 1,
    RUN_ICONS_DIRECTORY_FAILED = 2,
    RUN_OUTPUT_NOT_OPENED = 3,
    RUN_OUTPUT_NOT_WRITTEN = 4,
    RUN_ENUMERATION_FAILED = 5,
};

// Why the output file was not opened (RUN_OUTPUT_NOT_OPENED).
enum OutputRefusal {
    OUTPUT_OPEN_FAILED,       // the open itself failed (a directory, no access)
    OUTPUT_IS_REPARSE_POINT,  // a symbolic link or another reparse point: its target is not written
    OUTPUT_HAS_LINKS,         // a file with other hard links, which writing it would change too
};

// What the system tells of processes.dat, opened for writing without
// following a reparse point, so that a link shows as itself.
struct OutputFileFacts {
    bool opened;          // the open gave a handle
    bool described;       // the handle told the attributes, links and size below
    bool reparsePoint;    // the attributes hold FILE_ATTRIBUTE_REPARSE_POINT
    unsigned long links;  // the file's names (hard links), this one included
    bool holdsBytes;      // its size is not 0; a device such as NUL has none
};

struct OutputVerdict {
    int failure;            // RUN_LISTED: the listing goes into it; otherwise RUN_OUTPUT_NOT_OPENED
    OutputRefusal refusal;  // why not
    bool truncate;          // its old bytes are cut before the listing is written
};

OutputVerdict JudgeOutputFile(const OutputFileFacts& facts);

// What the line on standard error names as the cause of a run without a
// listing: the failure's own text, or for a refused output file which link
// it is. An empty text for RUN_LISTED or a code not listed.
const char* RunFailureCause(int failure, OutputRefusal refusal);
