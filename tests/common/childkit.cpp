#include "childkit.h"

#include <sddl.h>

namespace childkit {

namespace {

// Shared for deleting too: a test removes its temporary directory while
// another handle to a file in it may still be open.
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

handles::FileHandle OpenInheritable(const std::wstring& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return handles::FileHandle(
        CreateFileW(path.c_str(), access, SHARE_ALL, &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Every inheritable handle goes to the child, so the caller makes inheritable
// only the ends that the child is meant to hold.
bool Start(const std::wstring& exe, const std::wstring& arguments, const wchar_t* workDir, HANDLE input,
           HANDLE output, HANDLE error, handles::ProcessHandle* process, DWORD* id)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION info = {};
    // Wine now and then fails a start on a loaded machine with an internal
    // error that a moment later is gone; no other failure is tried again.
    for (int attempt = 0;; ++attempt) {
        if (CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, workDir, &startup, &info))
            break;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 2)
            return false;
        Sleep(200);
    }
    CloseHandle(info.hThread);
    process->Reset(info.hProcess);
    if (id != nullptr)
        *id = info.dwProcessId;
    return true;
}

std::string NarrowTo(UINT codePage, const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr,
                            nullptr);
    return result;
}

}  // namespace

bool StartWithFiles(const std::wstring& exe, const std::wstring& arguments, const wchar_t* workDir,
                    const std::wstring& outPath, const std::wstring& errPath, handles::ProcessHandle* process)
{
    handles::FileHandle input = OpenInheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    handles::FileHandle output = OpenInheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    handles::FileHandle error = OpenInheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    if (!input || !output || !error)
        return false;
    bool started = Start(exe, arguments, workDir, input.Get(), output.Get(), error.Get(), process, nullptr);
    // The caller reports why the start failed: the closing of our handles
    // must not change the error code it will ask for.
    DWORD cause = GetLastError();
    input.Reset();
    output.Reset();
    error.Reset();
    SetLastError(cause);
    return started;
}

bool AwaitChild(HANDLE process, DWORD timeoutMs, DWORD* exitCode, const std::function<void()>& whileRunning,
                DWORD pollMs)
{
    DWORD waited = WAIT_TIMEOUT;
    if (!whileRunning) {
        waited = WaitForSingleObject(process, timeoutMs);
    } else {
        for (DWORD elapsed = 0; elapsed < timeoutMs && waited == WAIT_TIMEOUT; elapsed += pollMs) {
            waited = WaitForSingleObject(process, pollMs);
            if (waited == WAIT_TIMEOUT)
                whileRunning();
        }
    }
    bool ended = waited == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
    if (!GetExitCodeProcess(process, exitCode))
        *exitCode = ~0u;
    return ended;
}

bool StartFixture(const std::wstring& exe, const std::wstring& arguments, Fixture* fixture)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    handles::FileHandle childInput, childOutput;
    HANDLE input = nullptr, ready = nullptr;
    if (!CreatePipe(childInput.Receive(), &input, &inherit, 0))
        return false;
    fixture->input.Reset(input);
    if (!CreatePipe(&ready, childOutput.Receive(), &inherit, 0))
        return false;
    fixture->ready.Reset(ready);
    // Our own ends must not be inherited by the child, or its input never ends.
    SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(ready, HANDLE_FLAG_INHERIT, 0);
    bool started = Start(exe, arguments, nullptr, childInput.Get(), childOutput.Get(), childOutput.Get(),
                         &fixture->process, &fixture->id);
    DWORD cause = GetLastError();
    childInput.Reset();
    childOutput.Reset();
    SetLastError(cause);
    return started;
}

bool AwaitFixtureReady(Fixture* fixture)
{
    char byte = 0;
    DWORD count = 0;
    bool ready = ReadFile(fixture->ready.Get(), &byte, 1, &count, nullptr) && count == 1;
    fixture->ready.Reset();
    return ready;
}

void EndFixture(Fixture* fixture)
{
    fixture->input.Reset();
    fixture->ready.Reset();
    if (!fixture->process)
        return;
    if (WaitForSingleObject(fixture->process.Get(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(fixture->process.Get(), 1);
    fixture->process.Reset();
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    handles::FindHandle find(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = path + L"\\" + name;
            // A link or junction is removed itself, never followed: what it
            // points to is not ours.
            bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (!link)
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (directory && !link)
                RemoveTree(full);
            else if (directory)
                RemoveDirectoryW(full.c_str());
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(find.Get(), &entry));
        find.Reset();
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

std::string ReadFileBytes(const std::wstring& path, bool* complete)
{
    std::string bytes;
    bool ok = false;
    handles::FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char chunk[65536];
    DWORD count = 0;
    while (file && (ok = ReadFile(file.Get(), chunk, sizeof chunk, &count, nullptr) != 0) && count > 0)
        bytes.append(chunk, count);
    if (complete != nullptr)
        *complete = ok;
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    handles::FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD count = 0;
    return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) &&
           count == bytes.size();
}

std::string NarrowAnsi(const std::wstring& text)
{
    return NarrowTo(CP_ACP, text);
}

std::string NarrowUtf8(const std::wstring& text)
{
    return NarrowTo(CP_UTF8, text);
}

std::wstring WidenAnsi(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

LONG PutKey(HKEY parent, const std::wstring& path, REGSAM view, const wchar_t* name, DWORD type,
            const std::string* bytes)
{
    handles::RegistryKey key;
    LONG error = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Receive(),
                                 nullptr);
    if (error != ERROR_SUCCESS || bytes == nullptr)
        return error;
    return RegSetValueExW(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes->data()),
                          static_cast<DWORD>(bytes->size()));
}

LONG PutText(HKEY parent, const std::wstring& path, REGSAM view, const std::wstring& text)
{
    std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
    return PutKey(parent, path, view, nullptr, REG_SZ, &bytes);
}

std::vector<std::wstring> SubKeyNames(HKEY parent, const std::wstring& path, REGSAM view)
{
    std::vector<std::wstring> names;
    handles::RegistryKey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS)
        return names;
    // 255 characters is the longest name a key may have.
    wchar_t name[300];
    DWORD length = 300;
    for (DWORD index = 0; RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                          ERROR_SUCCESS; ++index, length = 300)
        names.push_back(name);
    return names;
}

LONG SetKeyDacl(HKEY parent, const std::wstring& path, REGSAM view, const wchar_t* sddl)
{
    handles::RegistryKey key;
    LONG error = RegOpenKeyExW(parent, path.c_str(), 0, WRITE_DAC | view, key.Receive());
    if (error != ERROR_SUCCESS)
        return error;
    handles::LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Receive()), nullptr))
        return static_cast<LONG>(GetLastError());
    return RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor.Get());
}

std::vector<std::wstring> RemoveKeysNamed(HKEY hive, const std::wstring& listPath, REGSAM view,
                                          const std::wstring& prefix)
{
    std::vector<std::wstring> failed;
    handles::RegistryKey list;
    if (RegOpenKeyExW(hive, listPath.c_str(), 0, KEY_ALL_ACCESS | view, list.Receive()) != ERROR_SUCCESS)
        return failed;
    for (const std::wstring& name : SubKeyNames(hive, listPath, view)) {
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // A key left unreadable would stop RegDeleteTreeW: it is opened up first.
        LONG opened = SetKeyDacl(hive, listPath + L"\\" + name, view, L"D:(A;;KA;;;WD)");
        if (RegDeleteTreeW(list.Get(), name.c_str()) != ERROR_SUCCESS || opened != ERROR_SUCCESS)
            failed.push_back(name);
    }
    return failed;
}

void RemoveKeyIfEmpty(HKEY hive, const std::wstring& path, REGSAM view, bool valuesToo)
{
    DWORD subKeys = 1, values = 1;
    {
        handles::RegistryKey key;
        if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS)
            return;
        if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
    }
    if (subKeys == 0 && (!valuesToo || values == 0))
        RegDeleteKeyExW(hive, path.c_str(), view, 0);
}

}  // namespace childkit
