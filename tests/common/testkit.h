#pragma once
// Helpers shared by the black-box tests: run a program as a child with its
// output sent to files, keep fixture processes alive, compare bytes readably.
// The system calls are the child-process kit's; these report its failures as
// test failures.
#include "childkit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace testkit {

// The directory of the running test program, ending in a backslash. The
// programs under test and the fixture programs are built into it.
std::wstring ProgramDir();
std::wstring Sibling(const std::wstring& fileName);

struct RunResult {
    DWORD exitCode = 0;
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error, byte for byte
};

// Starts `exe` with `arguments` (already quoted as needed) in `workDir`, with
// standard input empty and standard output and error going to files, and waits
// for it. A child still running after `timeoutMs` is terminated and the test fails.
RunResult RunTool(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                  DWORD timeoutMs = 60000);

// A fresh directory under %TEMP%, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// A running fixture program, ready (it has said so) when the constructor
// returns. The destructor closes its standard input and waits for it to end.
class FixtureProcess {
public:
    explicit FixtureProcess(const std::wstring& exe, const std::wstring& arguments = L"");
    // For a crafted fixture: where the run is emulated (RunsEmulated) and the
    // fixture does not start or get ready, no failure; *leftOut says why, and
    // Ready() is false.
    FixtureProcess(const std::wstring& exe, std::string* leftOut);
    bool Ready() const { return ready_; }
    ~FixtureProcess();
    FixtureProcess(const FixtureProcess&) = delete;
    FixtureProcess& operator=(const FixtureProcess&) = delete;
    DWORD Id() const { return id_; }

private:
    FixtureProcess(const std::wstring& exe, const std::wstring& arguments, std::string* leftOut);
    childkit::Fixture fixture_;
    DWORD id_ = 0;
    bool ready_ = false;
};

// True inside the private Wine prefix that the test scripts make and mark. A
// test that changes machine-wide state (the whole browser list of a hive, files
// in System32) runs only there; elsewhere, on a real machine, it is skipped.
bool InPrivateTestPrefix();

// True in a 32-bit test program when the test run says that 32-bit code runs
// under qemu's user-mode i386 emulator (TASKTOOLS_I386_EMULATED=1, set by
// scripts/test.sh): some crafted images that Windows starts, it cannot.
bool RunsEmulated();

using childkit::FileExists;
// Empty when the file cannot be read.
inline std::string ReadBytes(const std::wstring& path) { return childkit::ReadFileBytes(path); }
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool CopyTo(const std::wstring& from, const std::wstring& to);

// Conversions between UTF-16 and the ANSI code page, which TaskRoll writes in.
using childkit::NarrowAnsi;
using childkit::WidenAnsi;
// The little-endian bytes of a UTF-16 text, as a program writing UTF-16 emits them.
std::string Utf16Bytes(const std::wstring& text);

// Control and non-ASCII bytes spelled out: \r \n \t \0 \xNN.
std::string Escape(const std::string& bytes);
// Passes when both are equal; otherwise shows both sides escaped and the first differing offset.
::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual);

}  // namespace testkit

#define SKIP_UNLESS_PRIVATE_TEST_PREFIX()                                                                  \
    if (!::testkit::InPrivateTestPrefix())                                                                 \
    GTEST_SKIP() << "changes machine-wide state, so it runs only in the private test prefix that the test " \
                    "scripts make"

#define EXPECT_BYTES(expected, actual) EXPECT_TRUE(::testkit::SameBytes((expected), (actual)))
#define ASSERT_BYTES(expected, actual) ASSERT_TRUE(::testkit::SameBytes((expected), (actual)))
