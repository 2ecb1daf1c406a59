#include "rig.h"
#include "internal.h"
#include "namelist.h"
#include "recordpath.h"
#include "settings.h"
#include "testkit.h"
#include "versioninfo.h"

#include <vector>

using namespace std::string_literals;

namespace {

using Names = std::vector<std::string>;

// A line of 260 bytes: the first that is too long.
const std::string TOO_LONG(PATH_BUFFER_SIZE, 'T');

Names ReadList(const testkit::TempDir& dir, const std::string& bytes)
{
    testkit::WriteBytes(dir / L"list.txt", bytes);
    ClearNameList();
    GetTaskRollFromFile(testkit::NarrowAnsi(dir / L"list.txt").c_str());
    Names names;
    for (std::size_t i = 0; i < GetNameCount(); ++i)
        names.push_back(GetName(i));
    return names;
}

struct Outcome {
    testkit::RunResult result;
    std::string listing;
    std::string log;
};

// TaskRoll.exe run in the rig's directory with the debug log, which then lands there too.
Outcome RunTaskRoll(rig::Rig& rig, const std::wstring& arguments)
{
    Outcome run;
    run.result = testkit::RunTool(rig.exe, L"/debuglog " + arguments, rig.dir.Path());
    EXPECT_EQ(run.result.exitCode, 0u);
    run.listing = rig.Read(L"processes.dat");
    run.log = rig.Read(L"taskroll.log");
    return run;
}

bool Logged(const std::string& log, const std::string& message)
{
    return log.find(": " + message + "\r\n") != std::string::npos;
}

// The description TaskRoll's own reading gives the file at `path`.
std::string Description(const std::string& path)
{
    char description[PATH_BUFFER_SIZE] = {};
    VersionResource resource;
    ReadVersionResource(path.c_str(), &resource);
    GetVersionInfo("FileDescription", description, path.c_str(), resource, "unknown_description");
    return description;
}

}  // namespace

// The lines themselves are the core's (tests/core/test_namelines.cpp); here
// what the file read adds: the text-mode stream's Ctrl-Z and CR LF, the name
// handed over up to its NUL, the last line without its line end, and the stop
// at a line too long.
TEST(NameList, LineEndsBlanksAndLimits)
{
    const struct {
        const char* what;
        std::string bytes;
        Names names;
    } cases[] = {
        {"CR LF, NUL, last line without line end", "C:\\a\0junk\r\n\r\nC:\\b.exe"s, {"C:\\a", "C:\\b.exe"}},
        {"Ctrl-Z ends the data", "C:\\a.exe\r\nC:\\b\x1A.exe\r\nC:\\c.exe\r\n", {"C:\\a.exe", "C:\\b"}},
        {"260 bytes skipped", "C:\\a.exe\r\n" + TOO_LONG + "\r\nC:\\b.exe\r\n", {"C:\\a.exe", "C:\\b.exe"}},
        // Read as bytes: the CR byte of U+010D ends no line, nor the 0x1A byte of U+011A the file.
        {"UTF-16 LE", "\xFF\xFE" + testkit::Utf16Bytes(L"C:\\\u010d\u011a\r\n\"C:\\b.exe\""),
         {EscapedPath(reinterpret_cast<const std::uint16_t*>(L"C:\\\u010d\u011a"), 5), "C:\\b.exe"}},
    };
    testkit::TempDir dir;
    for (const auto& c : cases)
        EXPECT_EQ(ReadList(dir, c.bytes), c.names) << c.what;
    ASSERT_NE(GetUnicodeName(0), nullptr);
    EXPECT_EQ(std::wstring(GetUnicodeName(0)), L"C:\\\u010d\u011a");
}

TEST(NameList, ListedPathsAreDescribed)
{
    rig::Rig rig;
    std::string self = testkit::NarrowAnsi(rig.exe);
    std::string missing = testkit::NarrowAnsi(rig.dir / L"missing.exe");
    testkit::WriteBytes(rig.dir / L"list.txt", self + "\r\n\r\n" + missing + "\n" + self);
    Outcome run = RunTaskRoll(rig, L"/file:list.txt");

    // The own executable is described like any other listed file, and twice when listed twice.
    std::string line = self + "\t\t" + Description(testkit::NarrowAnsi(testkit::Sibling(L"TaskRoll.exe"))) + "$";
    EXPECT_BYTES(line + "\r\n" + line + "\r\n", run.listing);
    EXPECT_BYTES(line + "\n", run.result.out);
    EXPECT_BYTES("", run.result.err);
    EXPECT_TRUE(Logged(run.log, missing + ": module not found")) << run.log;
    EXPECT_TRUE(Logged(run.log, "GetProcessInfo failed (Process Name = " + missing + ")")) << run.log;

    // A relative name is the file in the current directory, not one of that
    // name beside TaskRoll.exe; a directory is on disk, but has no strings.
    const std::wstring work = rig.dir / L"work";
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"fx_order1.exe"), work + L"\\y.exe"));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"fx_order2.exe"), rig.dir / L"y.exe"));
    testkit::WriteBytes(work + L"\\list.txt", "y.exe\r\n.\r\n");
    rig.Run(L"/file:list.txt", work);
    EXPECT_BYTES("y.exe\t\tDeutsch$\r\n.\t\tunknown_description$\r\n",
                 testkit::ReadBytes(work + L"\\processes.dat"));
}

// A list not read whole says so on standard error, in one line each, and the
// exit code stays 0: without names the running processes are listed.
TEST(NameList, FailuresAreLogged)
{
    const std::string listed = "TaskRoll: line 2 of the input file is longer than 259 characters and is skipped";
    const struct {
        const char* what;
        std::wstring arguments;
        std::string listFile;
        const char* message;
        std::string err;
        std::size_t records;  // of TaskRoll.exe; npos: the running processes are listed
    } cases[] = {
        {"missing file", L"/file:none.txt", "", "Failed to open input process list file: nError 2",
         "TaskRoll: the input file cannot be read; the running processes are listed instead: none.txt\r\n",
         std::string::npos},
        // Without /file: the path is empty; Windows' runtime says EINVAL (22) for it.
        {"empty path", L"", "", "Failed to open input process list file: nError 22", "", std::string::npos},
        {"too long line", L"/file:list.txt", "TaskRoll.exe\r\n" + TOO_LONG + "\r\nTaskRoll.exe\r\n" + TOO_LONG,
         "Line 2 of the input file is longer than 259 characters; it is skipped",
         "TaskRoll: 2 lines of the input file, the first line 2, are longer than 259 characters and are skipped: "
         "list.txt\r\n",
         2},
        {"UTF-16 without its mark", L"/file:list.txt", testkit::Utf16Bytes(L"TaskRoll.exe\r\n"),
         "The input file holds NUL bytes and no byte-order mark: it looks like UTF-16 without its mark; its names are "
         "read as ANSI text, each up to its first NUL",
         "TaskRoll: the input file holds NUL bytes and no byte-order mark: it looks like UTF-16 without its mark; its "
         "names are read as ANSI text: list.txt\r\n",
         0},
    };
    for (const auto& c : cases) {
        rig::Rig rig;
        if (!c.listFile.empty())
            testkit::WriteBytes(rig.dir / L"list.txt", c.listFile);
        Outcome run = RunTaskRoll(rig, c.arguments);
        EXPECT_TRUE(Logged(run.log, c.message)) << c.what << "\n" << run.log;
        EXPECT_BYTES(c.err, run.result.err) << c.what;
        bool listMode = c.records != std::string::npos;
        if (listMode) {
            EXPECT_EQ(rig::Lines(run.listing).size(), c.records) << c.what;
            EXPECT_EQ(run.listing.find("TaskRoll.exe\t\t"), c.records > 0 ? 0u : std::string::npos) << c.what;
        }
        EXPECT_EQ(run.log.find(": Skipping current process") == std::string::npos, listMode) << c.what;
    }
}

// Lists as Windows' own tools make them, each of the same paths: PowerShell
// 5.1 (UTF-16 LE), Notepad's "Unicode big endian", "UTF-8 with BOM", and in
// ANSI Explorer's "Copy as path" and cmd's "dir /b /s". A folder the code page
// cannot hold is only in the Unicode lists; its file is read through its
// Unicode path and named by its short path (by its escaped form where the
// volume keeps no short names).
TEST(NameList, ListsOfWindowsToolsAreDescribed)
{
    rig::Rig rig;
    const std::wstring plain = rig.dir / L"plain", other = rig.dir / L"\u041f\u0440\u043e\u0433\u0440 \u65e5\u672c";
    ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr) && CreateDirectoryW(other.c_str(), nullptr));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"fx_order1.exe"), plain + L"\\a.exe"));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"fx_order1.exe"), other + L"\\b.exe"));
    wchar_t system[MAX_PATH] = {}, shortPath[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::vector<std::wstring> paths = {std::wstring(system) + L"\\kernel32.dll",
                                             std::wstring(system) + L"\\user32.dll", plain + L"\\a.exe",
                                             other + L"\\b.exe"};
    GetShortPathNameW(paths[3].c_str(), shortPath, MAX_PATH);
    std::string nonAnsi = testkit::NarrowAnsi(shortPath);
    if (nonAnsi.empty() || nonAnsi.find('?') != std::string::npos)
        nonAnsi = EscapedPath(reinterpret_cast<const std::uint16_t*>(paths[3].c_str()), paths[3].size());
    std::wstring text;
    std::string records, quoted, plainList;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string ansi = i < 3 ? testkit::NarrowAnsi(paths[i]) : nonAnsi;
        records += ansi + "\t\t" + (i < 3 ? Description(ansi) : "Deutsch") + "$\r\n";
        text += paths[i] + L"\r\n";
        quoted += i < 3 ? "\"" + ansi + "\"\r\n" : "";
        plainList += i < 3 ? ansi + "\r\n" : "";
    }
    std::string utf16be = testkit::Utf16Bytes(L"\uFEFF" + text);
    for (std::size_t i = 0; i + 1 < utf16be.size(); i += 2)
        std::swap(utf16be[i], utf16be[i + 1]);
    const std::string ansiRecords = records.substr(0, records.rfind(nonAnsi));
    const struct {
        const char* what;
        std::string bytes;
        std::string records;
    } lists[] = {
        {"UTF-16 LE", testkit::Utf16Bytes(L"\uFEFF" + text), records},
        {"UTF-16 BE", utf16be, records},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + childkit::NarrowUtf8(text), records},
        {"ANSI, quoted", quoted, ansiRecords},
        {"ANSI", plainList, ansiRecords},
    };
    for (const auto& list : lists) {
        testkit::WriteBytes(rig.dir / L"list.txt", list.bytes);
        rig.Run(L"/file:list.txt");
        EXPECT_BYTES(list.records, rig.Read(L"processes.dat")) << list.what;
    }
}
