#include "systemdlls.h"

#include <string>

void LoadDllsFromSystemOnly()
{
    // Looked up rather than imported: a Windows without it (an unpatched
    // Windows 7) still runs TaskRoll, and loads only KnownDLLs at start.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (found != nullptr)
        reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(found))(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemDll(const wchar_t* name)
{
    std::wstring path(MAX_PATH, L'\0');
    UINT length = GetSystemDirectoryW(&path[0], static_cast<UINT>(path.size()));
    if (length == 0 || length >= path.size())
        return nullptr;
    path.resize(length);
    path += L'\\';
    path += name;
    return LoadLibraryExW(path.c_str(), nullptr, 0);
}
