#include "readerworker.h"

#include "text.h"

#include <string>

namespace {

// The ANSI form of the handle's final path, with its "\\?\" taken off where
// a plain path says the same (the version functions load the file by its
// path). Empty when the code page cannot hold it (`wide` has it then) or the
// system cannot tell (`wide` is empty too).
std::string FinalPathOf(HANDLE file, const std::wstring& known, std::wstring* wide)
{
    *wide = known.empty() ? RawFinalPathOf(file) : known;
    if (wide->empty())
        return std::string();
    if (wide->compare(0, 8, L"\\\\?\\UNC\\") == 0)
        wide->replace(0, 8, L"\\\\");
    else if (wide->compare(0, 4, L"\\\\?\\") == 0 && wide->size() >= 7 && (*wide)[5] == L':' && (*wide)[6] == L'\\')
        wide->erase(0, 4);
    std::string path;
    return ToAnsiLossless(wide->c_str(), &path) && !path.empty() ? path : std::string();
}

// Where the first folder below the root of `wide` ends ("C:\\", or a
// server's share), or npos where the path has none.
std::size_t RootEnd(const std::wstring& wide)
{
    return wide.compare(0, 2, L"\\\\") == 0 ? wide.find(L'\\', wide.find(L'\\', 2) + 1) : 2;
}

// The folder `path` opened for listing, shared with readers and writers but
// not with deletion: nobody can rename it or put another in its place.
handles::FileHandle OpenFolder(const std::wstring& path)
{
    return handles::FileHandle(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

// Holds the directories of `wide` below its root, as far as they can be
// opened, in `directories`.
void HoldDirectories(const std::wstring& wide, std::vector<handles::FileHandle>* directories)
{
    const std::size_t root = RootEnd(wide);
    if (root == std::wstring::npos)
        return;
    for (std::size_t end = wide.find(L'\\', root + 1); end != std::wstring::npos; end = wide.find(L'\\', end + 1)) {
        handles::FileHandle held = OpenFolder(wide.substr(0, end));
        if (held)
            directories->push_back(std::move(held));
    }
}

// The file at `path` opened for reading, shared for reading only: while it is
// open nobody can write it, delete it or rename it.
HANDLE OpenForReadingOnly(const char* path, const wchar_t* unicodePath)
{
    const DWORD access = FILE_READ_DATA | FILE_READ_ATTRIBUTES;
    return unicodePath != nullptr ? CreateFileW(unicodePath, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr)
                                  : CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The checked file `checked`, opened again for reading and shared for reading
// only. A file system that cannot reopen a handle (a network redirector may
// not) has the file opened by its path instead, and `facts` are then that
// open's: the file is read as it was before the check kept its open.
handles::FileHandle ReopenForReading(const char* path, const wchar_t* unicodePath, HANDLE checked, FileSketch* sketch,
                                     bool* byPath)
{
    *byPath = false;
    handles::FileHandle file(ReOpenFile(checked, FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, 0));
    const DWORD error = file ? ERROR_SUCCESS : GetLastError();
    if (file || error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return file;
    file.Reset(OpenForReadingOnly(path, unicodePath));
    if (file) {
        *byPath = true;
        *sketch = SketchOf(file.Get());
    }
    return file;
}

// Pins the file open in `pinned->file` for the system's read; `path` is what
// TaskRoll opened it by, given to the system where the final path cannot be
// had. A final path that the code page cannot hold is given in UTF-16.
void PinFile(const char* path, PinnedFile* pinned)
{
    std::wstring& wide = pinned->widePath;
    pinned->path = FinalPathOf(pinned->file.Get(), pinned->finalPath, &wide);
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
        HoldFolders(wide);
    } catch (...) {
        ReleaseFolders();  // out of memory: the file itself stays held
    }
}

namespace {

// The folders held for the files read one after the other, each with the
// length of its path: a list of one folder's files opens its folders once.
std::vector<std::pair<std::size_t, handles::FileHandle>>& HeldFolders()
{
    static std::vector<std::pair<std::size_t, handles::FileHandle>> held;
    return held;
}

std::wstring& HeldPath()
{
    static std::wstring path;
    return path;
}

}  // namespace

void HoldFolders(const std::wstring& wide)
{
    auto& held = HeldFolders();
    std::wstring& heldPath = HeldPath();
    // Those of the last file that lie on this file's path stay held.
    std::size_t keep = 0;
    while (keep < held.size() && held[keep].first < wide.size() && wide[held[keep].first] == L'\\' &&
           heldPath.compare(0, held[keep].first, wide, 0, held[keep].first) == 0)
        ++keep;
    held.resize(keep);
    heldPath = wide;
    const std::size_t root = RootEnd(wide);
    if (root == std::wstring::npos)
        return;
    std::size_t end = keep > 0 ? wide.find(L'\\', held.back().first + 1) : wide.find(L'\\', root + 1);
    for (; end != std::wstring::npos; end = wide.find(L'\\', end + 1)) {
        // A folder that cannot be opened is not held; those below it still are.
        held.emplace_back(end, OpenFolder(wide.substr(0, end)));
    }
}

void ReleaseFolders()
{
    HeldFolders().clear();
    HeldPath().clear();
}

