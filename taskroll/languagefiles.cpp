#include "readerworker.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace {

// The check's reads: it asks for whole windows of the file, a fixed number of
// them (peresource.h), and keeps them itself, on the worker's own synchronous
// handle.
struct FileWindow {
    HANDLE file = INVALID_HANDLE_VALUE;
};

bool ReadWindowed(void* context, std::uint64_t offset, void* buffer, std::size_t bytes)
{
    FileWindow* window = static_cast<FileWindow*>(context);
    return bytes <= VERSION_CHECK_WINDOW_BYTES && ReadFileAt(window->file, offset, buffer, static_cast<DWORD>(bytes));
}

}  // namespace

bool ReadFileAt(HANDLE file, std::uint64_t offset, void* buffer, DWORD bytes)
{
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return offset <= static_cast<std::uint64_t>(INT64_MAX) && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, bytes, &read, nullptr) && read == bytes;
}

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

