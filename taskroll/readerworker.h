#pragma once
// The worker's side of a version read, by concern: what a file is (its
// identity, and what the worker keeps of files it described), the pinning of
// a file and its folders while the system reads it, its language files, the
// system's read, and the choice of the strings a record takes. Only the
// worker calls these: TaskRoll's own process opens none of the files.
#include "handles.h"
#include "knownfiles.h"
#include "peresource.h"
#include "readerprotocol.h"
#include "versiontree.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// identitycache.cpp
// What the cheap queries tell of an open file: its size and last write,
// whether it is a directory, its final path as the file system gives it for
// the handle ("\\?\" and all; empty: not known), and whether its volume is
// one whose ids a run trusts (IsTrustedVolume). The file's id costs more
// (under Wine a query of its volume too): it is asked only where it can tell
// something, since no file of another size or last write can be the same.
struct FileSketch {
    bool trusted = false;
    bool directory = false;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    unsigned driveType = FILE_DRIVE_UNKNOWN;
    bool networkPath = false;
    std::wstring finalPath;
};
FileSketch SketchOf(HANDLE file);
// The identity of the sketched open file, as IdentifyFile takes it, with the
// sketch's size and time: none where the volume is not trusted or the
// system does not answer.
FileFacts FactsOf(HANDLE file, const FileSketch& sketch);
// The final path of the open file, "\\?\" and all (empty: not known).
std::wstring RawFinalPathOf(HANDLE file);

// What the worker keeps of the files it described: each file's answer,
// found by a spelling of its path seen before or by its identity, and the
// file itself, held open (for reading, shared for reading and deletion: no
// one can write it, an updater can still rename or replace it) so that a
// spelling seen before still names the file described. A kept file's id is
// asked when a file of its size and last write comes, on the handle that
// holds it. Bounded in bytes; a worker that starts again starts empty.
class DescribedFiles {
public:
    // The answer kept for the path spelled `key`, or null.
    const DescribeAnswer* FindPath(const std::string& key) const;
    // Whether a file kept or failed before has the size and last write of
    // `sketch`: only then can it be that file, and only then is its id asked.
    bool MayHold(const FileSketch& sketch) const;
    // The answer kept for the file `facts`, or null; `key` then names it too.
    const DescribeAnswer* FindFile(const FileFacts& facts, const std::string& key);
    // Keeps `answer` for the file `sketch`, known by `key`, held open in
    // `held`; `facts` is its identity where it was asked (else none).
    void Keep(const FileSketch& sketch, const FileFacts& facts, const std::string& key, const DescribeAnswer& answer,
              handles::FileHandle held);
    bool Failed(const FileFacts& facts) const { return failed_.Find(facts) != nullptr; }
    void AddFailed(const FileFacts& facts);

private:
    struct Kept {
        FileSketch sketch;  // no final path
        bool asked = false;  // `facts` holds its identity, and `files_` finds it
        FileFacts facts;
        DescribeAnswer answer;
        handles::FileHandle held;
    };
    void AddPath(const std::string& key, std::size_t index);

    std::vector<Kept> kept_;
    std::size_t keptBytes_ = 0;
    KnownFiles<std::size_t> files_{4096};  // the index in `kept_` of each file whose id was asked
    std::vector<std::pair<std::string, std::size_t>> paths_;  // sorted by spelling
    std::size_t pathBytes_ = 0;
    KnownFiles<bool> failed_{256};
    std::vector<FileSketch> failedTimes_;  // the size and last write of each
};

// pinning.cpp
// The checked file, held so that the system reads that file and no other: the
// file itself is open, shared for reading only (nobody can write, delete or
// rename it), and so is every directory on its path, shared without delete,
// until the read is done. The system is given the file's final path, as the
// file system resolves it for the open handle, so no link, junction or short
// name on the way can lead elsewhere. The folders keep the path leading to
// the checked file on a file system that lets a folder above an open file be
// renamed and another be put in its place (NTFS does not; Wine's does).
struct PinnedFile {
    handles::FileHandle file;
    std::vector<handles::FileHandle> directories;
    std::vector<handles::FileHandle> languageFiles;  // held as the file is
    std::string path;        // what the system is given; empty: the code page cannot hold it
    std::wstring widePath;   // the same as the file system names it: given where `path` is empty
    FileSketch sketch;
    FileFacts facts;  // its identity, where it was asked
    const wchar_t* unicodePath = nullptr;  // what the file was opened by, where the code page cannot hold it
    std::wstring finalPath;  // as the system gave it for the check's open; empty: ask the pinned handle
};

// The file at `path` (or `unicodePath`) opened for reading, shared for reading only.
HANDLE OpenForReadingOnly(const char* path, const wchar_t* unicodePath);
// The checked file `checked` opened again for reading, shared for reading
// only; by its path where the file system cannot reopen a handle (`sketch`
// is then that open's, and `byPath` is set).
handles::FileHandle ReopenForReading(const char* path, const wchar_t* unicodePath, HANDLE checked, FileSketch* sketch,
                                     bool* byPath);
// Sets the path the system is given and holds the folders above the file.
void PinFile(const char* path, PinnedFile* pinned);
// Holds the directories of `wide` below its root, as far as they can be opened.
void HoldDirectories(const std::wstring& wide, std::vector<handles::FileHandle>* directories);
// The same for the pinned file's own folders, which stay held while the
// files that follow lie in them too, until ReleaseFolders: the worker
// releases them whenever it has no request to work on, so no folder stays
// held while TaskRoll does anything else, and a list of one folder's files
// opens that folder once.
void HoldFolders(const std::wstring& wide);
void ReleaseFolders();

// languagefiles.cpp
// `bytes` bytes of the open synchronous `file` at `offset`: moving its file
// pointer and reading there is one positioned read (and, under Wine, far
// cheaper than a read at an OVERLAPPED offset). False unless all were read.
bool ReadFileAt(HANDLE file, std::uint64_t offset, void* buffer, DWORD bytes);
// The check of the open file `handle`'s headers and resource directory; a
// file whose size cannot be had is damaged.
ResourceCheck CheckFile(HANDLE handle, ResourceFacts* facts);
// Checks the language files of the language-neutral module pinned in
// `pinned`, holding each one checked.
void CheckLanguageFiles(PinnedFile* pinned, LanguageFiles* files);

// systemread.cpp
// The most that GetFileVersionInfoSizeA can ask for a file that passed the
// check (a resource of 64 KiB at most): the resource, room for the ANSI
// copies that the query function makes of an old 8-bit resource's texts, and
// a signature. A larger answer did not come from a checked file.
constexpr DWORD VERSION_BLOCK_MAX_BYTES = 4 * 0x10000 + 4;
enum SystemRead {
    SYSTEM_READ_NONE,       // the system found no version resource (or could not size it)
    SYSTEM_READ_FAILED,     // it has one, but no memory for it or the read failed
    SYSTEM_READ_TOO_LARGE,  // the system asked for more than VERSION_BLOCK_MAX_BYTES
    SYSTEM_READ_DONE,       // `block` holds what the system wrote
};
// Loads the system's version functions (from System32, outside the native
// file-system view); the worker calls it once, before its first request.
void LoadVersionFunctions();
// The system's read of the pinned file's version resource into `block`.
// `smallestResource` (0: unknown) tells when one read is enough.
SystemRead AskSystem(const PinnedFile& pinned, std::uint32_t smallestResource, std::vector<unsigned char>* block);
// The version resource that the check located (`facts`), read on the open
// `file` itself into `block`; false where the system has to read it.
bool ReadLocatedResource(HANDLE file, const ResourceFacts& facts, std::vector<unsigned char>* block);

// stringchoice.cpp
// The strings a record takes from the resource `tree`, for each of
// READER_NAME_TEXTS, converted to the ANSI code page and cut as a record cuts them.
void ChooseStrings(const VersionTree& tree, DescribedStrings (&strings)[READER_NAMES]);
