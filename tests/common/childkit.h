#pragma once
// What the tests and the benchmark both do to the system around the programs
// they run: start a child with its output going to files, keep fixture
// processes alive, read and write whole files, convert texts, and put or remove
// registry keys. No test framework here: each call says whether it worked, and
// the caller reports a failure its own way (a test failure, or the benchmark's
// end).
#include "handles.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace childkit {

// Starts `exe` with `arguments` (already quoted as needed) in `workDir` (null:
// the caller's), standard input empty and standard output and error written to
// the two files (created or truncated). The file handles are closed again once
// the child holds its own copies, so the files can be read after its end.
bool StartWithFiles(const std::wstring& exe, const std::wstring& arguments, const wchar_t* workDir,
                    const std::wstring& outPath, const std::wstring& errPath, handles::ProcessHandle* process);

// Waits until `process` ends, at most `timeoutMs`, calling `whileRunning`
// (when given) every `pollMs` meanwhile. A child still running then is
// terminated, that child alone, and false returned; otherwise `exitCode`
// holds its exit code. The handle stays open, for what is asked after the end.
bool AwaitChild(HANDLE process, DWORD timeoutMs, DWORD* exitCode,
                const std::function<void()>& whileRunning = nullptr, DWORD pollMs = 5);

// A running fixture program (tests/fixtures/waiter.cpp and its variants): it
// says one byte on standard output once it runs and lives until its standard
// input reaches its end. Starting and waiting for its byte are two steps, so
// that many fixtures can start at once.
struct Fixture {
    handles::ProcessHandle process;
    handles::FileHandle input;  // our end of its standard input: closing it ends the fixture
    handles::FileHandle ready;  // our end of its standard output, until it has said it runs
    DWORD id = 0;
};
bool StartFixture(const std::wstring& exe, const std::wstring& arguments, Fixture* fixture);
bool AwaitFixtureReady(Fixture* fixture);
// Closes its input and waits for it to end, terminating it after 10 s.
void EndFixture(Fixture* fixture);

bool FileExists(const std::wstring& path);
// Removes the directory with everything in it, as far as it can. A link or
// junction inside is removed itself, never followed.
void RemoveTree(const std::wstring& path);
// The whole file: empty when it cannot be opened, what was read when a read
// fails (`complete` then says false).
std::string ReadFileBytes(const std::wstring& path, bool* complete = nullptr);
// Creates or truncates the file and writes all of `bytes`.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Conversions between UTF-16 and the ANSI code page (what TaskRoll writes and
// reads) or UTF-8 (the benchmark's messages). Characters that the ANSI code
// page cannot hold come out as the system's default character.
std::string NarrowAnsi(const std::wstring& text);
std::wstring WidenAnsi(const std::string& text);
std::string NarrowUtf8(const std::wstring& text);

// Creates parent\path in `view` (KEY_WOW64_64KEY or KEY_WOW64_32KEY) and, when
// `bytes` is given, sets its value `name` (null: the default value) to `type`
// and those bytes. The registry's error code.
LONG PutKey(HKEY parent, const std::wstring& path, REGSAM view, const wchar_t* name = nullptr, DWORD type = REG_NONE,
            const std::string* bytes = nullptr);
// The value as REG_SZ with its terminating NUL.
LONG PutText(HKEY parent, const std::wstring& path, REGSAM view, const std::wstring& text);
// The subkeys of parent\path in `view`, in the order the registry enumerates
// them; none when the key cannot be opened.
std::vector<std::wstring> SubKeyNames(HKEY parent, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
// Sets the access list of parent\path from its SDDL text ("D:...").
LONG SetKeyDacl(HKEY parent, const std::wstring& path, REGSAM view, const wchar_t* sddl);
// Removes each subkey of the list key hive\listPath whose name begins with
// `prefix`, opened up first so that one left locked goes too. The names that
// could not be removed come back.
std::vector<std::wstring> RemoveKeysNamed(HKEY hive, const std::wstring& listPath, REGSAM view,
                                          const std::wstring& prefix);
// Removes hive\path when no subkey is left under it (and, with `valuesToo`, no
// value either): the list key a test or the benchmark had to make.
void RemoveKeyIfEmpty(HKEY hive, const std::wstring& path, REGSAM view, bool valuesToo);

}  // namespace childkit
