#include "versioninfo.h"

#include "debuglog.h"
#include "handles.h"
#include "internal.h"
#include "knownfiles.h"
#include "peresource.h"
#include "settings.h"
#include "text.h"
#include "versionreader.h"
#include "versiontree.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// The tree walk and the string selection are the core's (versiontree.h), the
// check of the file's headers too (peresource.h); this side reads the file
// and converts what they find into the ANSI code page.

namespace {

// The check's reads: it asks for whole windows of the file, a fixed number of
// them (peresource.h), and keeps them itself. The handle is TaskRoll's own and
// synchronous, so moving its file pointer and reading there is one positioned
// read (and, under Wine, far cheaper than a read at an OVERLAPPED offset).
struct FileWindow {
    HANDLE file = INVALID_HANDLE_VALUE;
};

bool ReadWindowed(void* context, std::uint64_t offset, void* buffer, std::size_t bytes)
{
    FileWindow* window = static_cast<FileWindow*>(context);
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return bytes <= VERSION_CHECK_WINDOW_BYTES && offset <= static_cast<std::uint64_t>(INT64_MAX) &&
           SetFilePointerEx(window->file, at, nullptr, FILE_BEGIN) &&
           ReadFile(window->file, buffer, static_cast<DWORD>(bytes), &read, nullptr) && read == bytes;
}

VersionTree TreeOf(const VersionResource& resource)
{
    VersionTree tree;
    tree.bytes = resource.block.data();
    tree.length = resource.length;
    tree.wide = resource.wide;
    return tree;
}

// A string value in the ANSI code page: its characters up to its first NUL,
// at most its stated length, never past its node.
std::string TextOf(const VersionTree& tree, const std::uint8_t* value, std::size_t valueBytes)
{
    std::size_t units = VersionTextUnits(tree, value, valueBytes);
    if (!tree.wide)
        return std::string(reinterpret_cast<const char*>(value), units);
    std::wstring wide(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        wide[i] = static_cast<wchar_t>(VersionTextUnit(tree, value, i));
    if (wide.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

struct Extraction {
    const VersionTree* tree;
    const char* path;
    const char* name;
    char* output;
};

// A string that the selection found, as the output keeps it: 259 bytes at
// most, cut before a double-byte character that would not fit whole (a lone
// lead byte would take the record's '$' or line end as its second half).
std::string OutputText(const VersionTree& tree, const std::uint8_t* value, std::size_t valueBytes)
{
    std::string text = TextOf(tree, value, valueBytes);
    text.resize(CutOnCharacter(text.data(), text.size(), PATH_BUFFER_SIZE - 1, AnsiLeadBytes()));
    return text;
}

// Copies a string that the selection found into the output and logs it.
void ReportString(const Extraction& extraction, const std::string& text)
{
    FormatString(extraction.output, static_cast<int>(PATH_BUFFER_SIZE), "%s", text.c_str());
    LogMessage("Extracted file version from file '%s' (section '%s'): %s", extraction.path, extraction.name,
               extraction.output);
}

void CopyFoundString(void* context, const std::uint8_t* value, std::size_t valueBytes)
{
    const Extraction* extraction = static_cast<const Extraction*>(context);
    ReportString(*extraction, OutputText(*extraction->tree, value, valueBytes));
}

struct Choice {
    const VersionTree* tree;
    ChosenStrings* chosen;
};

void KeepFoundString(void* context, const std::uint8_t* value, std::size_t valueBytes)
{
    const Choice* choice = static_cast<const Choice*>(context);
    choice->chosen->texts.push_back(OutputText(*choice->tree, value, valueBytes));
}

// The checked file, held so that the system reads that file and no other
// while it is checked and read: the file itself is open, shared for reading
// only (nobody can write it, delete it or rename it), and so is every
// directory on its path, shared without delete. The system is given the
// file's final path, as the file system resolves it for the open handle, so
// no link, junction or short name on the way can lead elsewhere. The check
// reads through the handle, but the worker opens the file again by that
// path: the folders are what keep the path leading to the checked file, on a
// file system that lets a folder above an open file be renamed and another
// put in its place (NTFS does not; Wine's does). They are held only until the
// file is read, so nothing of a program's folders stays held for the run (an
// uninstaller can remove them meanwhile). What is left: a directory that
// TaskRoll may not open for listing is not held (the open fails).
struct PinnedFile {
    handles::FileHandle file;
    std::vector<handles::FileHandle> directories;
    std::vector<handles::FileHandle> languageFiles;  // held as the file is
    std::string path;  // what the system is given; empty: the code page cannot hold it
    std::wstring widePath;  // the same, as the file system names it: given to the system where `path` is empty
    FileFacts facts;
    const wchar_t* unicodePath = nullptr;  // what TaskRoll opened it by, where the code page cannot hold that
};

// The ANSI form of the handle's final path, with its "\\?\" taken off where
// a plain path says the same (the version functions load the file by its
// path). Empty when the code page cannot hold it (`wide` has it then) or the
// system cannot tell (`wide` is empty too).
std::string FinalPathOf(HANDLE file, std::wstring* wide)
{
    wide->assign(32768, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, &(*wide)[0], static_cast<DWORD>(wide->size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= wide->size()) {
        wide->clear();
        return std::string();
    }
    wide->resize(length);
    if (wide->compare(0, 8, L"\\\\?\\UNC\\") == 0)
        wide->replace(0, 8, L"\\\\");
    else if (wide->compare(0, 4, L"\\\\?\\") == 0 && wide->size() >= 7 && (*wide)[5] == L':' && (*wide)[6] == L'\\')
        wide->erase(0, 4);
    std::string path;
    return ToAnsiLossless(wide->c_str(), &path) && !path.empty() ? path : std::string();
}

// Holds the directories of `wide` below its root, as far as they can be
// opened, in `directories`.
void HoldDirectories(const std::wstring& wide, std::vector<handles::FileHandle>* directories)
{
    std::size_t root = wide.compare(0, 2, L"\\\\") == 0 ? wide.find(L'\\', wide.find(L'\\', 2) + 1) : 2;
    if (root == std::wstring::npos)
        return;
    for (std::size_t end = wide.find(L'\\', root + 1); end != std::wstring::npos; end = wide.find(L'\\', end + 1)) {
        handles::FileHandle held(CreateFileW(wide.substr(0, end).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (held)
            directories->push_back(std::move(held));
    }
}

// The drive type of the volume that holds the open file, and whether its
// final path names a server. A volume mounted in a folder of another is
// asked by its own root.
unsigned DriveTypeOf(HANDLE file, bool* networkPath)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.assign(length + 1, L'\0');
        length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= path.size())
        return FILE_DRIVE_UNKNOWN;
    path.resize(length);
    *networkPath = path.compare(0, 8, L"\\\\?\\UNC\\") == 0;
    std::wstring root(path.size() + 2, L'\0');
    if (!GetVolumePathNameW(path.c_str(), &root[0], static_cast<DWORD>(root.size())))
        return FILE_DRIVE_UNKNOWN;
    return GetDriveTypeW(root.c_str());
}

// What the open handle tells of its file, as IdentifyFile takes it: no
// identity where it tells nothing, or the file lies on a volume whose ids a
// run does not trust (see knownfiles.h). `directory` tells whether it is a
// directory.
FileFacts FactsOf(HANDLE file, bool* directory)
{
    static_assert(FILE_DRIVE_FIXED == DRIVE_FIXED && FILE_DRIVE_REMOTE == DRIVE_REMOTE &&
                      FILE_DRIVE_REMOVABLE == DRIVE_REMOVABLE && FILE_DRIVE_RAMDISK == DRIVE_RAMDISK,
                  "the core's drive types are the system's");
    BY_HANDLE_FILE_INFORMATION info;
    FileIdentityFacts facts;
    *directory = false;
    if (!GetFileInformationByHandle(file, &info))
        return FileFacts();
    *directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const auto wide = [](DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; };
    facts.indexKnown = true;
    facts.volume32 = info.dwVolumeSerialNumber;
    facts.index64 = wide(info.nFileIndexHigh, info.nFileIndexLow);
    facts.size = wide(info.nFileSizeHigh, info.nFileSizeLow);
    facts.lastWrite = wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    // The 128-bit id, where the file system has one (Wine's has: the 64-bit
    // index in its lower half); a file system that does not refuses the query.
    FILE_ID_INFO id;
    facts.id128Known = GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) != FALSE;
    if (facts.id128Known) {
        facts.volume64 = id.VolumeSerialNumber;
        static_assert(sizeof id.FileId.Identifier == sizeof facts.id128, "a 128-bit id");
        std::memcpy(facts.id128, id.FileId.Identifier, sizeof facts.id128);
    }
    facts.driveType = DriveTypeOf(file, &facts.networkPath);
    return IdentifyFile(facts);
}

// The resources this run has read, by file: a machine runs dozens of
// processes of one program, and a list names the same programs again and
// again, and a file seen before is neither checked nor read again. A few
// thousand distinct files are more than a machine runs; past its budget,
// files are read afresh. Each keeps the strings chosen for the names a record asks
// for, not its block: a few hundred bytes rather than up to 64 KiB. The
// table is bounded by what it holds, its keys and strings, not by a count:
// a file with long strings costs more room than one with short ones.
constexpr std::size_t KNOWN_FILES_BUDGET_BYTES = 1024 * 1024;
const char* const RECORD_NAMES[] = {"FileVersion", "FileDescription"};

KnownFiles<VersionResource>& KnownResources()
{
    static KnownFiles<VersionResource> known(KNOWN_FILES_BUDGET_BYTES, KNOWN_FILES_BUDGET_BYTES);
    return known;
}

bool ReuseKnownResource(const FileFacts& facts, VersionResource* resource)
{
    const VersionResource* known = KnownResources().Find(facts);
    if (known == nullptr)
        return false;
    try {
        *resource = *known;
    } catch (...) {
        *resource = VersionResource();
        return false;  // out of memory: read afresh
    }
    return true;
}

void RememberResource(const FileFacts& facts, const VersionResource& resource)
{
    try {
        VersionResource kept;
        std::size_t heldBytes = 0;
        kept.state = resource.state;
        kept.damaged = resource.damaged;
        if (resource.state == VERSION_READ) {
            const VersionTree tree = TreeOf(resource);
            for (const char* name : RECORD_NAMES) {
                kept.chosen.emplace_back();
                kept.chosen.back().name = name;
                Choice choice = {&tree, &kept.chosen.back()};
                kept.chosen.back().found = SelectVersionString(tree, name, KeepFoundString, &choice);
                heldBytes += sizeof(ChosenStrings) + kept.chosen.back().name.size();
                for (const std::string& text : kept.chosen.back().texts)
                    heldBytes += sizeof(std::string) + text.size();
            }
        }
        KnownResources().Add(facts, std::move(kept), heldBytes);
    } catch (...) {
        // Out of memory: the file is merely read again if it comes again.
    }
}

// Pins the file open in `pinned->file` for the system's read; `path` is what
// TaskRoll opened it by, given to the system where the final path cannot be
// had. A final path that the code page cannot hold is given in UTF-16.
void PinFile(const char* path, PinnedFile* pinned)
{
    std::wstring& wide = pinned->widePath;
    pinned->path = FinalPathOf(pinned->file.Get(), &wide);
    if (wide.empty() && pinned->unicodePath != nullptr) {
        wide = pinned->unicodePath;
        return;
    }
    if (wide.empty()) {
        pinned->path = path;
        int units = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
        wide.assign(units > 0 ? static_cast<std::size_t>(units) : 1, L'\0');
        if (units > 0)
            MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], units);
        wide.resize(wide.size() - 1);
        return;
    }
    try {
        HoldDirectories(wide, &pinned->directories);
    } catch (...) {
        // Out of memory: the file itself stays held.
    }
}

// The resource as the system reads it from a file that passed the check.
// `path` names the file in the log where the system is given its UTF-16 path.
void ReadCheckedResource(const char* path, const PinnedFile& pinned, std::uint32_t smallestResource,
                         VersionResource* resource)
{
    const bool unicode = pinned.path.empty();
    switch (ReadVersionBlock(unicode ? path : pinned.path.c_str(), pinned.facts, smallestResource, &resource->block,
                             unicode ? pinned.widePath.c_str() : nullptr)) {
    case SYSTEM_READ_NONE:
        return;
    case SYSTEM_READ_FAILED:
        resource->state = VERSION_UNREADABLE;
        return;
    case SYSTEM_READ_REFUSED:
        resource->state = VERSION_UNREADABLE;
        resource->notRead = true;
        return;
    case SYSTEM_READ_TOO_LARGE:
    case SYSTEM_READ_CRASHED:
        resource->state = VERSION_READ;
        resource->damaged = true;
        resource->block.clear();
        return;
    case SYSTEM_READ_DONE:
        break;
    }
    resource->state = VERSION_READ;
    VersionTree tree;
    resource->damaged = CheckVersionTree(resource->block.data(), resource->block.size(), &tree);
    resource->length = tree.length;
    resource->wide = tree.wide;
}

}  // namespace

int FormatString(char* buffer, int size, const char* format, ...)
{
    LogTrace("FormatString");
    if (buffer == nullptr || size <= 0)
        return 0;
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(buffer, static_cast<std::size_t>(size), format, arguments);
    va_end(arguments);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length < size ? length : size - 1;
}

namespace {

// The check of the open file `handle`; a file whose size cannot be had is damaged.
ResourceCheck CheckFile(HANDLE handle, ResourceFacts* facts)
{
    FileWindow window;
    window.file = handle;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(handle, &size))
        return RESOURCE_PATH_DAMAGED;
    FileBytes file;
    file.size = static_cast<std::uint64_t>(size.QuadPart);
    file.read = ReadWindowed;
    file.context = &window;
    return CheckVersionResourcePath(file, facts);
}

// Subfolders of one folder that the check looks into for language files; a
// folder with more is no program folder of a real machine, and its modules
// are taken as damaged.
constexpr std::size_t LANGUAGE_FOLDERS_MAX = 1024;

// Checks the language files of the language-neutral module pinned in
// `pinned`: <folder>\<each subfolder>\<file name>.mui, each as the module was,
// each held open (shared for reading only) with its folder until the system
// has read. A folder that cannot be listed, or a language file that exists
// but cannot be opened so, leaves the system files unchecked: damaged.
void CheckLanguageFiles(PinnedFile* pinned, LanguageFiles* files)
{
    const std::wstring& module = pinned->widePath;
    const std::size_t slash = module.rfind(L'\\');
    WIN32_FIND_DATAW found;
    handles::FindHandle search(slash == std::wstring::npos
                                   ? INVALID_HANDLE_VALUE
                                   : FindFirstFileExW((module.substr(0, slash + 1) + L"*").c_str(), FindExInfoBasic,
                                                      &found, FindExSearchLimitToDirectories, nullptr, 0));
    if (!search) {
        files->damaged = true;
        return;
    }
    std::size_t folders = 0;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || name == L"." || name == L"..")
            continue;
        if (++folders > LANGUAGE_FOLDERS_MAX) {
            files->damaged = true;
            break;
        }
        const std::wstring path = module.substr(0, slash + 1) + name + module.substr(slash) + L".mui";
        handles::FileHandle held(CreateFileW(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD error = held ? 0 : GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            continue;
        ResourceFacts facts;
        ResourceCheck check = RESOURCE_PATH_DAMAGED;
        if (held)
            check = CheckFile(held.Get(), &facts);
        AddLanguageFile(*files, static_cast<bool>(held), check, facts);
        if (held) {
            HoldDirectories(path, &pinned->directories);
            pinned->languageFiles.push_back(std::move(held));
        }
    } while (!files->damaged && FindNextFileW(search.Get(), &found));
}

// The check, and the system's read of a file that passes it, for a file not
// read before in the run.
void CheckAndRead(const char* path, PinnedFile* pinned, handles::NativeViewScope* native, VersionResource* resource)
{
    ResourceFacts sizes;
    ResourceCheck check = CheckFile(pinned->file.Get(), &sizes);
    if (check == RESOURCE_PATH_INTACT && sizes.languageNeutral) {
        PinFile(path, pinned);
        LanguageFiles files;
        files.facts = sizes;
        try {
            CheckLanguageFiles(pinned, &files);
        } catch (...) {
            files.damaged = true;  // out of memory: unchecked files stay unread
        }
        check = files.damaged ? RESOURCE_PATH_DAMAGED : check;
        sizes = files.facts;
    }
    if (check == RESOURCE_PATH_DAMAGED) {
        // Nothing of it reaches the system: the default texts stand.
        resource->state = VERSION_READ;
        resource->damaged = true;
    } else if (check == RESOURCE_PATH_INTACT && sizes.largest == 0) {
        // A module without a version resource: the system would find none.
    } else {
        if (pinned->widePath.empty())
            PinFile(path, pinned);
        native->End();
        ReadCheckedResource(path, *pinned, sizes.smallest, resource);
    }
}

// The file at `path` opened for reading, shared for reading only: while it is
// open nobody can write it, delete it or rename it.
HANDLE OpenForReadingOnly(const char* path, const wchar_t* unicodePath)
{
    return unicodePath != nullptr ? CreateFileW(unicodePath, FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr)
                                  : CreateFileA(path, FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The checked file `checked`, opened again for reading and shared for reading
// only. A file system that cannot reopen a handle (a network redirector may
// not) has the file opened by its path instead, and `facts` are then that
// open's: the file is read as it was before the check kept its open.
handles::FileHandle ReopenForReading(const char* path, const wchar_t* unicodePath, HANDLE checked, FileFacts* facts)
{
    handles::FileHandle file(ReOpenFile(checked, FILE_READ_DATA, FILE_SHARE_READ, 0));
    const DWORD error = file ? ERROR_SUCCESS : GetLastError();
    if (file || error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return file;
    file.Reset(OpenForReadingOnly(path, unicodePath));
    bool directory = false;
    if (file)
        *facts = FactsOf(file.Get(), &directory);
    return file;
}

}  // namespace

void ReadVersionResource(const char* path, HANDLE checked, VersionResource* resource, const wchar_t* unicodePath)
{
    *resource = VersionResource();
    // The file is checked and pinned on the native file system (the 32-bit
    // build describes System32 itself); the worker is started and asked
    // outside that view. The facts come from the check's own open, so a file
    // seen before costs no other open. A directory has no resource, and a
    // file that cannot be reopened shared for reading only (its reading is
    // refused, or someone holds it open for writing) is not given to the
    // system: no resource is read from either.
    handles::NativeViewScope native;
    bool directory = false;
    FileFacts facts = FactsOf(checked, &directory);
    if (directory)
        return;
    const bool known = ReuseKnownResource(facts, resource);
    if (known) {
        LogMessage("Version resource of file '%s' was read for an earlier record; it is used again", path);
    } else {
        PinnedFile pinned;
        pinned.file = ReopenForReading(path, unicodePath, checked, &facts);
        if (!pinned.file)
            return;
        pinned.facts = facts;
        pinned.unicodePath = unicodePath;
        CheckAndRead(path, &pinned, &native, resource);
    }
    if (resource->damaged)
        LogMessage("Damaged version resource in file '%s': only its intact parts are read", path);
    if (!known && !resource->notRead)
        RememberResource(facts, *resource);
}

void ReadVersionResource(const char* path, VersionResource* resource, const wchar_t* unicodePath)
{
    *resource = VersionResource();
    // Opened as the read itself opens it: where an open without access
    // rights was refused, one for reading may still be granted.
    handles::NativeViewScope native;
    handles::FileHandle checked(OpenForReadingOnly(path, unicodePath));
    native.End();
    if (checked)
        ReadVersionResource(path, checked.Get(), resource, unicodePath);
}

int GetVersionInfo(const char* name, char* output, const char* path, const VersionResource& resource,
                   const char* defaultText)
{
    LogTrace("GetVersionInfo");
    if (resource.state == VERSION_NONE) {
        LogMessage("Failed to extract version information from file '%s' (section '%s')", path, name);
        CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
        return 0;
    }

    int result = 0;
    const ChosenStrings* chosen = nullptr;
    for (const ChosenStrings& choice : resource.chosen)
        chosen = choice.name == name ? &choice : chosen;
    const VersionTree tree = TreeOf(resource);
    Extraction extraction = {&tree, path, name, output};
    if (resource.state == VERSION_READ && chosen != nullptr) {
        for (const std::string& text : chosen->texts)
            ReportString(extraction, text);
        result = chosen->found ? 1 : 0;
    } else if (resource.state == VERSION_READ) {
        result = SelectVersionString(tree, name, CopyFoundString, &extraction) ? 1 : 0;
    }
    if (result)
        return result;
    CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
    return 0;
}
