#include "readerworker.h"

#include "text.h"

#include <string>

namespace {

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

}  // namespace

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

