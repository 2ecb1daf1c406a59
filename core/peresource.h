#pragma once
// The check that a module file's way to its version resource lies inside the
// file, made before the system's version functions read it: those functions
// trust the headers and the resource directory, and read wherever they point.
#include <cstddef>
#include <cstdint>

// A version resource is at most 64 KiB: its root node's length is 16 bits.
constexpr std::uint32_t VERSION_RESOURCE_MAX_BYTES = 0x10000;

// The check reads the file in windows of this size, each starting at a
// multiple of it (the last one cut at the end of the file), and at most this
// many of them whatever the file: a few hundred KiB of system reads at most.
constexpr std::uint32_t VERSION_CHECK_WINDOW_BYTES = 4096;
constexpr std::uint32_t VERSION_CHECK_READ_BUDGET = 32;

// Bounded reads of the file being checked. `read` copies `bytes` bytes at
// `offset` into `buffer` and is asked only for bytes below `size`, one window
// at a time; false when they cannot all be read.
struct FileBytes {
    std::uint64_t size = 0;
    bool (*read)(void* context, std::uint64_t offset, void* buffer, std::size_t bytes) = nullptr;
    void* context = nullptr;
};

enum ResourceCheck {
    RESOURCE_NOT_IN_MODULE,  // not a PE or NE module (no MZ header, or a header of another kind)
    RESOURCE_PATH_INTACT,    // a PE32, PE32+ or NE module whose way to the version resource holds
    RESOURCE_PATH_DAMAGED,   // some header, directory or entry on that way points outside, or a size is not sane
};

// Follows the headers and the resource directory to every version resource
// that the system could take (all languages, every duplicate entry), and
// checks that each lies inside the file and inside the part of its section
// that the image maps from the file, and is 1 byte to 64 KiB long; a layout
// whose image the check cannot tell from the file (sections that overlap or
// lie off their alignment, an image far larger than the file) is damaged.
// Reads at most the headers, the directories on the way and the data
// entries, never the resource itself; a file that needs more windows than
// the budget is damaged. For an intact module, `facts` (when given) gets the
// sizes of the largest and the smallest version resource the system could
// take (both 0 when it has none), and whether it has a resource
// configuration.
struct ResourceFacts {
    std::uint32_t largest = 0;
    std::uint32_t smallest = 0;
    // A resource of type "MUI": the module is language-neutral, and on
    // Windows (Vista and later) the version functions read the version
    // resource of its language file, <folder>\<language>\<file name>.mui, for
    // the first language of the loader's list (the thread's and the user's UI
    // languages, the system's, the configuration's fallback) that has one,
    // instead of the module's own. Wine reads only the module.
    bool languageNeutral = false;
    // How many version resources the system could take; where a PE module
    // that is not language-neutral has just one, `located` is set and
    // `offset` is where its `smallest` bytes lie in the file. The check allows
    // no layout where the image maps other bytes there, so reading them gives
    // what the system's read copies, with no second open and no mapping.
    std::uint32_t count = 0;
    bool located = false;
    std::uint64_t offset = 0;
};
ResourceCheck CheckVersionResourcePath(const FileBytes& file, ResourceFacts* facts = nullptr);

// The language files of a language-neutral module, as the check covers them:
// every language folder beside the module, since which language the loader
// takes depends on settings of the user's and of the moment. At most this
// many files; a module with more is taken as damaged.
constexpr std::uint32_t LANGUAGE_FILES_MAX = 64;

struct LanguageFiles {
    std::uint32_t count = 0;
    bool damaged = false;  // one of them is, or one could not be checked
    ResourceFacts facts;   // the module's and its language files' sizes together
};

// Adds a language file that exists to the module's `files`: `opened` false
// when it could not be opened for the check (the system could still read
// it), else its check and facts. A file that is no module gives the system
// nothing to read.
void AddLanguageFile(LanguageFiles& files, bool opened, ResourceCheck check, const ResourceFacts& facts);
