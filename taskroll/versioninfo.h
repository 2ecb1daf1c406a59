#pragma once
// Strings from the version resource of a module file, as the worker chose
// them (versionreader.h): TaskRoll's own process opens no module file, and
// takes what the worker says only as far as the reply's rules allow.
#include "files.h"

#include <cstddef>
#include <string>
#include <vector>

// The strings that the choice of one name found in a resource, each as the
// output takes it, in the order reported; `found` is the choice's result.
struct ChosenStrings {
    std::string name;
    bool found = false;
    std::vector<std::string> texts;
};

// What reading a file's version resource gave.
enum VersionResourceState {
    VERSION_NONE,        // the file has no version resource (or its size cannot be read)
    VERSION_UNREADABLE,  // it has one, but it could not be read (no memory, read failure)
    VERSION_READ,
};

struct VersionResource {
    VersionResourceState state = VERSION_NONE;
    bool damaged = false;  // some node overstates its room or lacks its terminator, or the reader failed on it
    bool notRead = false;  // no worker could read it
    bool reused = false;   // described by what was read for an earlier record
    std::vector<ChosenStrings> chosen;  // the choices of the names a record asks for
};

// What the worker found of a module file, and the reader's lines for it.
struct ModuleFile {
    FileKind kind = FILE_ON_DISK;  // where the worker could not tell, a file all the same
    VersionResource resource;
    std::vector<std::string> lines;
};

// Asks the worker about the module file at `path` (a full path), or at
// `unicodePath` where the ANSI code page cannot hold it; `logPath` names it
// in the log. Nothing is logged yet.
void AskModuleFile(const char* path, const wchar_t* unicodePath, const char* logPath, ModuleFile* file);

// Logs what was found of the file: whether an earlier record's reading is
// used again, the reader's own lines, and a damaged resource.
void LogModuleFile(const char* logPath, const ModuleFile& file);

// Reads the version resource of the file at `path` once, through the worker:
// first the file's own headers and resource directory are checked (a file
// whose way to the resource leads outside it is damaged, and the system never
// reads it), then the layout of every node that a string query walks through.
// A damaged resource is logged once; what lies inside its bytes stays usable.
// `unicodePath`, where given, is the file's path where the ANSI code page
// cannot hold it: the file is opened by it, and `path` only names it in the log.
void ReadVersionResource(const char* path, VersionResource* resource, const wchar_t* unicodePath = nullptr);

// Reads the string table entry `name` from the resource of the file `path`
// into `output` (PATH_BUFFER_SIZE bytes), or the default text when there is
// none. Nonzero when the string was found.
int GetVersionInfo(const char* name, char* output, const char* path, const VersionResource& resource,
                   const char* defaultText);
