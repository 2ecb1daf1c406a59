#include "testkit.h"

#include <cstdio>
#include <vector>

namespace testkit {

bool InPrivateTestPrefix()
{
    return FileExists(L"C:\\tasktools-private-test-prefix");
}

bool RunsEmulated()
{
    wchar_t value[8] = {};
    return sizeof(void*) == 4 && GetEnvironmentVariableW(L"TASKTOOLS_I386_EMULATED", value, 8) == 1 &&
           value[0] == L'1';
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
    handles::ProcessHandle process;
    if (!childkit::StartWithFiles(exe, arguments, workDir.c_str(), streams / L"out", streams / L"err", &process)) {
        ADD_FAILURE() << "cannot start " << NarrowAnsi(exe) << " (error " << GetLastError() << ")";
        result.exitCode = ~0u;
        return result;
    }
    if (!childkit::AwaitChild(process.Get(), timeoutMs, &result.exitCode))
        ADD_FAILURE() << NarrowAnsi(exe) << " still ran after " << timeoutMs << " ms; terminated";
    process.Reset();
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
        childkit::RemoveTree(path_);
    }
}

FixtureProcess::FixtureProcess(const std::wstring& exe, const std::wstring& arguments)
    : FixtureProcess(exe, arguments, nullptr)
{
}

FixtureProcess::FixtureProcess(const std::wstring& exe, std::string* leftOut) : FixtureProcess(exe, L"", leftOut) {}

FixtureProcess::FixtureProcess(const std::wstring& exe, const std::wstring& arguments, std::string* leftOut)
{
    std::string failure;
    if (!childkit::StartFixture(exe, arguments, &fixture_))
        failure = "cannot start fixture " + NarrowAnsi(exe) + " (error " + std::to_string(GetLastError()) + ")";
    else if (!childkit::AwaitFixtureReady(&fixture_))
        failure = "fixture " + NarrowAnsi(exe) + " did not get ready";
    ready_ = failure.empty();
    id_ = fixture_.id;
    if (!ready_ && leftOut && RunsEmulated())
        *leftOut = failure + " under the i386 emulator";
    else if (!ready_)
        ADD_FAILURE() << failure;
}

FixtureProcess::~FixtureProcess()
{
    childkit::EndFixture(&fixture_);
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    EXPECT_TRUE(childkit::WriteFileBytes(path, bytes)) << "cannot write " << NarrowAnsi(path);
}

bool CopyTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
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
