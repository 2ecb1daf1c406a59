#include "testkit.h"

#include <cstdio>
#include <vector>

namespace testkit {

namespace {

HANDLE OpenInheritable(const std::wstring& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Start(const std::wstring& exe, const std::wstring& arguments, const wchar_t* workDir, HANDLE input,
           HANDLE output, HANDLE error, PROCESS_INFORMATION* info)
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
    return CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, workDir, &startup,
                          info) != 0;
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
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
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

}  // namespace

bool InPrivateTestPrefix()
{
    return FileExists(L"C:\\tasktools-private-test-prefix");
}

std::wstring ProgramDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring Sibling(const std::wstring& fileName)
{
    return ProgramDir() + fileName;
}

RunResult RunTool(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                  DWORD timeoutMs)
{
    RunResult result;
    TempDir streams;
    HANDLE input = OpenInheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE output = OpenInheritable(streams / L"out", GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE error = OpenInheritable(streams / L"err", GENERIC_WRITE, CREATE_ALWAYS);
    PROCESS_INFORMATION info = {};
    bool started = Start(exe, arguments, workDir.c_str(), input, output, error, &info);
    CloseHandle(input);
    CloseHandle(output);
    CloseHandle(error);
    if (!started) {
        ADD_FAILURE() << "cannot start " << Narrow(exe) << " (error " << GetLastError() << ")";
        result.exitCode = ~0u;
        return result;
    }
    if (WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << Narrow(exe) << " still ran after " << timeoutMs << " ms; terminated";
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
    }
    GetExitCodeProcess(info.hProcess, &result.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    result.out = ReadBytes(streams / L"out");
    result.err = ReadBytes(streams / L"err");
    return result;
}

TempDir::TempDir()
{
    static unsigned counter = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    do {
        path_ = std::wstring(temp) + L"tt" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(++counter);
    } while (!CreateDirectoryW(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
}

TempDir::~TempDir()
{
    // Wine may hold the image of a child that has just ended for a moment
    // longer, and the directory then does not go at the first try.
    for (int attempt = 0; attempt < 50 && FileExists(path_); ++attempt) {
        if (attempt > 0)
            Sleep(100);
        RemoveTree(path_);
    }
}

FixtureProcess::FixtureProcess(const std::wstring& exe, const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr, childOutput = nullptr, ready = nullptr;
    CreatePipe(&childInput, &input_, &inherit, 0);
    CreatePipe(&ready, &childOutput, &inherit, 0);
    // Our own ends must not be inherited by the child, or its input never ends.
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(ready, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION info = {};
    bool started = Start(exe, arguments, nullptr, childInput, childOutput, childOutput, &info);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (started) {
        process_ = info.hProcess;
        id_ = info.dwProcessId;
        CloseHandle(info.hThread);
        char byte = 0;
        DWORD count = 0;
        if (!ReadFile(ready, &byte, 1, &count, nullptr) || count != 1)
            ADD_FAILURE() << "fixture " << Narrow(exe) << " did not get ready";
    } else {
        ADD_FAILURE() << "cannot start fixture " << Narrow(exe) << " (error " << GetLastError() << ")";
    }
    CloseHandle(ready);
}

FixtureProcess::~FixtureProcess()
{
    CloseHandle(input_);
    if (process_ == nullptr)
        return;
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process_, 1);
    CloseHandle(process_);
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD count = 0;
    while (ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0)
        bytes.append(chunk, count);
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot write " << Narrow(path);
    DWORD count = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr);
    CloseHandle(file);
    EXPECT_EQ(count, bytes.size());
}

bool CopyTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

std::string Utf16Bytes(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

std::string Escape(const std::string& bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r': text += "\\r"; break;
        case '\n': text += "\\n"; break;
        case '\t': text += "\\t"; break;
        case '\0': text += "\\0"; break;
        case '\\': text += "\\\\"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                text += hex;
            } else {
                text += static_cast<char>(c);
            }
        }
    }
    return text;
}

::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    size_t offset = 0;
    while (offset < expected.size() && offset < actual.size() && expected[offset] == actual[offset])
        ++offset;
    return ::testing::AssertionFailure() << "bytes differ at offset " << offset << " (expected " << expected.size()
                                         << " bytes, got " << actual.size() << ")\n  expected: \""
                                         << Escape(expected) << "\"\n  actual:   \"" << Escape(actual) << "\"";
}

}  // namespace testkit
