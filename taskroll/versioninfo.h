#pragma once
// Strings from the version resource of a module file. The resource is read
// once per file; every string is then taken from that one block, and only
// from bytes that lie inside the resource as read.
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
    std::vector<unsigned char> block;  // as the system returned it, zero-filled beyond what it wrote
    std::size_t length = 0;            // bytes of the block that the walk may use
    bool wide = true;                  // UTF-16 keys and strings; false: the old 8-bit layout
    bool damaged = false;              // some node overstates its room or lacks its terminator
    bool notRead = false;              // no worker could read it: not remembered for later records
    // For a file seen before in the run: the choices of the names a record
    // asks for, kept in place of its block, which is then empty.
    std::vector<ChosenStrings> chosen;
};

// Reads the version resource of the file at `path` once: first the file's own
// headers and resource directory are checked (a file whose way to the
// resource leads outside it is damaged, and the system never reads it), then
// the layout of every node that a string query walks through. A damaged
// resource is logged once; what lies inside its bytes stays usable.
// `unicodePath`, where given, is the file's path where the ANSI code page
// cannot hold it: the file is opened by it, and `path` only names it in the log.
void ReadVersionResource(const char* path, VersionResource* resource, const wchar_t* unicodePath = nullptr);

// The same for the file that `checked` names: an open of `path` without
// access rights (see CheckFileKind), which the read reopens, so that it reads
// the very file that was checked.
void ReadVersionResource(const char* path, void* checked, VersionResource* resource,
                         const wchar_t* unicodePath = nullptr);

// Reads the string table entry `name` from the resource of the file `path`
// into `output` (PATH_BUFFER_SIZE bytes), or the default text when there is
// none. Nonzero when the string was found.
int GetVersionInfo(const char* name, char* output, const char* path, const VersionResource& resource,
                   const char* defaultText);
