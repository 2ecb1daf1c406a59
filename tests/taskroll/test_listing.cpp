// Process records: fixture processes with crafted version resources are found
// in a real listing.
#include "rig.h"
#include "childkit.h"
#include "imagepath.h"
#include "internal.h"
#include "files.h"
#include "listing.h"
#include "settings.h"

#include <io.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

namespace {

// Every line is a record: not empty, and its only "$" is its last byte.
void ExpectOnlyRecords(const std::string& listing)
{
    for (const std::string& line : rig::Lines(listing)) {
        ASSERT_FALSE(line.empty()) << testkit::Escape(listing);
        EXPECT_EQ(line.find('$'), line.size() - 1) << testkit::Escape(line);
    }
}

// The one record of a listing whose first field is `path`; "" when there is none or more.
std::string RecordOf(const std::string& listing, const std::string& path)
{
    std::string record;
    int found = 0;
    for (const std::string& line : rig::Lines(listing)) {
        if (line.compare(0, path.size() + 1, path + "\t") == 0) {
            record = line;
            ++found;
        }
    }
    return found == 1 ? record : "";
}

// TaskRoll's native view of the file system for the test's own files in
// System32, undone at the end of the scope.
using NativeFileSystem = handles::NativeViewScope;

// Files of the test's own names, removed in TaskRoll's native view when the
// scope ends. Declared before the process that runs one of them, so that the
// process has ended by then.
struct FilesRemoved {
    std::vector<std::wstring> paths;
    ~FilesRemoved() { Remove(); }
    void Remove() const
    {
        NativeFileSystem view;
        // Wine may hold the image of a fixture that has just ended for a moment longer.
        for (const std::wstring& file : paths) {
            for (int attempt = 0; attempt < 50 && !file.empty() && testkit::FileExists(file) &&
                                  !DeleteFileW(file.c_str());
                 ++attempt)
                Sleep(100);
        }
    }
};

}  // namespace

TEST(Listing, FixtureRecords)
{
    // Each fixture runs from its own copy, so that no other test's process has its path.
    const struct {
        const wchar_t* fixture;
        const wchar_t* directory;
        const wchar_t* arguments;
        const char* delimiter;
        std::string description;
    } cases[] = {
        {L"waiter.exe", L"run", L"", "\t", "unknown_description"},
        {L"waiter.exe", L"pay$day", L"", "\t", "unknown_description"},
        {L"fx_dollar.exe", L"run", L"", "\t", "Costs S5 (USS)"},
        {L"fx_delims.exe", L"run", L"", "\t", "A,B;C\tD"},
        {L"fx_delims.exe", L"run", L"/delim:COMMA", ",", "A,B;C\tD"},
        {L"fx_delims.exe", L"run", L"/delim:SEMIC", ";", "A,B;C\tD"},
        {L"fx_percent.exe", L"run", L"", "\t", "100% %s %d %n"},
        {L"fx_len259.exe", L"run", L"", "\t", rig::Digits(259)},
        {L"fx_len300.exe", L"run", L"", "\t", rig::Digits(259)},
        {L"fx_order1.exe", L"run", L"", "\t", "Deutsch"},
        {L"fx_order2.exe", L"run", L"", "\t", "English"},
        {L"fx_versiononly.exe", L"run", L"", "\t", "unknown_description"},
        {L"fx_notranslation.exe", L"run", L"", "\t", "unknown_description"},
        {L"fx_crlf.exe", L"run", L"", "\t", "Line one  Line two three "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testkit::NarrowAnsi(c.fixture) + " " + testkit::NarrowAnsi(c.arguments));
        rig::Rig rig;
        ASSERT_TRUE(CreateDirectoryW((rig.dir / c.directory).c_str(), nullptr));
        const std::wstring fixture = rig.dir / (std::wstring(c.directory) + L"\\" + c.fixture);
        ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(c.fixture), fixture));
        std::string path = testkit::NarrowAnsi(fixture);
        for (char& byte : path)
            byte = byte == '$' ? 'S' : byte;
        std::string listing;
        {
            testkit::FixtureProcess running(fixture);
            rig.Run(c.arguments);
            listing = rig.Read(L"processes.dat");
        }
        ExpectOnlyRecords(listing);
        std::string d = c.delimiter;
        std::string expected = path + d + d + c.description + "$";
        int found = 0;
        for (const std::string& line : rig::Lines(listing)) {
            if (line.compare(0, path.size() + 1, path + d) == 0) {
                EXPECT_BYTES(expected, line);
                ++found;
            }
        }
        EXPECT_EQ(found, 1) << testkit::Escape(listing);
    }
}

// A process whose executable is gone gives no line, only two log lines with
// its id and the code 1. Windows keeps the directory of a running program from
// being renamed, Wine does not, so only Wine can show this. A process whose
// path cannot be read at all (the QueryFullProcessImageName fallback) is not
// to be had under Wine either: it reads every process's path.
TEST(Listing, ExecutableGoneGivesNoLine)
{
    rig::Rig rig;
    const std::wstring before = rig.dir / L"before", after = rig.dir / L"after";
    ASSERT_TRUE(CreateDirectoryW(before.c_str(), nullptr));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"waiter.exe"), before + L"\\waiter.exe"));
    testkit::FixtureProcess running(before + L"\\waiter.exe");
    if (!MoveFileW(before.c_str(), after.c_str()))
        GTEST_SKIP() << "the directory of a running program cannot be renamed here";
    rig.Run(L"/debuglog");
    std::string listing = rig.Read(L"processes.dat");
    ExpectOnlyRecords(listing);
    EXPECT_EQ(listing.find(testkit::NarrowAnsi(rig.dir.Path())), std::string::npos) << testkit::Escape(listing);
    std::string id = std::to_string(running.Id());
    EXPECT_TRUE(rig::InOrder(rig::Normalized(rig.Read(L"taskroll.log")),
                               {"GetProcessInfo started (Process ID = " + id + ")",
                                testkit::NarrowAnsi(before) + "\\waiter.exe: module not found",
                                "GetProcessInfo failed (Process ID = " + id + ", Error Code = 1)"}));
}

// A program run from a share gets the default description and is not opened;
// a list that names it is read. Wine takes \\<server>\<share> to its prefix's
// dosdevices\unc\<server>\<share> (here a share of the test's own name) and
// gives the image as \\?\UNC\...; it cannot show that no server is asked, nor
// \Device\Mup, a mapped network drive or WebDAV (test_pathplace.cpp does).
TEST(Listing, AProgramOnAShareIsNotOpened)
{
    SKIP_UNLESS_PRIVATE_TEST_PREFIX();
    char prefix[MAX_PATH] = {};
    if (GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH) == 0)
        GTEST_SKIP() << "a share of the test's own needs Wine's dosdevices\\unc (Windows needs a server)";
    const std::wstring unc = L"Z:" + testkit::WidenAnsi(prefix) + L"\\dosdevices\\unc";
    const std::wstring server = L"tasktools-share-" + std::to_wstring(GetCurrentProcessId());
    const bool madeUnc = CreateDirectoryW(unc.c_str(), nullptr) != 0;
    const std::wstring root = unc + L"\\" + server;
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr) && CreateDirectoryW((root + L"\\share").c_str(), nullptr));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"fx_order1.exe"), root + L"\\share\\fx_order1.exe"));
    const std::string shared = "\\\\" + testkit::NarrowAnsi(server) + "\\share\\fx_order1.exe";
    const std::string image = "\\\\?\\UNC" + shared.substr(1);
    rig::Rig rig;
    testkit::WriteBytes(rig.dir / L"list.txt", shared + "\r\n");
    rig.Run(L"/file:list.txt");
    EXPECT_BYTES(shared + "\t\tDeutsch$\r\n", rig.Read(L"processes.dat"));
    {
        testkit::FixtureProcess running(testkit::WidenAnsi(shared));
        rig.Run(L"/debuglog");
    }
    EXPECT_BYTES(image + "\t\tunknown_description$", RecordOf(rig.Read(L"processes.dat"), image));
    const std::string log = rig::Normalized(rig.Read(L"taskroll.log"));
    EXPECT_TRUE(rig::InOrder(log, {image + ": on a network path, or on a drive not known to be local; it is not "
                                           "opened, and its record has the default description"}));
    EXPECT_EQ(log.find("Processing module " + image), std::string::npos);
    childkit::RemoveTree(root);
    if (madeUnc)
        RemoveDirectoryW(unc.c_str());
}

// Every build lists every process, with the record of the file that the
// process runs: the 32-bit TaskRoll cannot read a 64-bit process's modules and
// asks for its image path instead, and on 64-bit Windows it sees System32
// through WOW64 redirection, where a file of the same name is another program.
// Each TaskRoll lists fixtures of both architectures (also ones that name
// another file in their own loader entry), and a 64-bit fixture in
// System32 whose 32-bit twin of another description lies in SysWOW64, by name
// and running.
//
// Not shown here: a process that refuses PROCESS_QUERY_INFORMATION and
// PROCESS_VM_READ (another user's, a service, a protected process) but tells
// its path to PROCESS_QUERY_LIMITED_INFORMATION takes the same way from the
// failed OpenProcess; Wine opens every process with any access.
TEST(Listing, EveryBuildDescribesTheFileTheProcessRuns)
{
    const std::wstring own = testkit::Sibling(L"fx_order1.exe"), other = rig::OtherBuild(L"fx_order1.exe");
    const std::wstring twin = rig::OtherBuild(L"fx_order2.exe"), otherTaskRoll = rig::OtherBuild(L"TaskRoll.exe");
    const std::wstring disguised = rig::OtherBuild(L"fx_masquerade.exe");
    if (other.empty() || twin.empty() || otherTaskRoll.empty() || disguised.empty())
        GTEST_SKIP() << "the other architecture's build is not beside this one";
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring name = L"taskroll_twin.exe";
    testkit::TempDir dir;
    const bool wide = sizeof(void*) == 8;
    // The System32 row writes into the system's own directories: only inside
    // the private test prefix, and last, so that the rows before it are checked
    // wherever the test runs.
    const struct {
        std::wstring source, target, twinSource, twinTarget;
    } placements[] = {
        {own, dir / L"own.exe", L"", L""},
        {other, dir / L"other.exe", L"", L""},
        // Processes that name another file in their own loader entry.
        {testkit::Sibling(L"fx_masquerade.exe"), dir / L"disguised.exe", L"", L""},
        {disguised, dir / L"disguised_other.exe", L"", L""},
        // Deutsch from the 64-bit build in System32, English from the 32-bit one in SysWOW64.
        {wide ? own : other, std::wstring(windows) + L"\\system32\\" + name,
         wide ? twin : testkit::Sibling(L"fx_order2.exe"), std::wstring(windows) + L"\\syswow64\\" + name},
    };
    for (const auto& p : placements) {
        SCOPED_TRACE(testkit::NarrowAnsi(p.target));
        if (!p.twinSource.empty()) {
            SKIP_UNLESS_PRIVATE_TEST_PREFIX();
        }
        // Removed at the end also when an assertion ends the test early, and
        // first, in case an earlier run ended before it could remove them.
        FilesRemoved files{{p.target, p.twinTarget}};
        files.Remove();
        std::unique_ptr<testkit::FixtureProcess> running;
        {
            NativeFileSystem view;
            ASSERT_TRUE(testkit::CopyTo(p.source, p.target));
            ASSERT_TRUE(p.twinSource.empty() || testkit::CopyTo(p.twinSource, p.twinTarget));
            running.reset(new testkit::FixtureProcess(p.target));
        }
        // Once the view ends, a 32-bit program sees the SysWOW64 twin there again.
        if (!p.twinSource.empty()) {
            BOOL wow64 = FALSE;
            IsWow64Process(GetCurrentProcess(), &wow64);
            EXPECT_EQ(testkit::ReadBytes(p.target), testkit::ReadBytes(wow64 ? p.twinSource : p.source));
        }
        const std::string path = testkit::NarrowAnsi(p.target), record = path + "\t\tDeutsch$";
        for (const std::wstring& taskRoll : {testkit::Sibling(L"TaskRoll.exe"), otherTaskRoll}) {
            SCOPED_TRACE(testkit::NarrowAnsi(taskRoll));
            rig::Rig rig(taskRoll);
            testkit::WriteBytes(rig.dir / L"list.txt", path + "\r\n");
            rig.Run(L"/file:list.txt");
            EXPECT_BYTES(record + "\r\n", rig.Read(L"processes.dat"));
            rig.Run(L"");
            EXPECT_BYTES(record, RecordOf(rig.Read(L"processes.dat"), path));
        }
    }
}

// A process run from a directory whose name the ANSI code page cannot hold is
// listed by its short path, which names the same file.
TEST(Listing, PathOutsideTheCodePageTakesItsShortForm)
{
    rig::Rig rig;
    const std::wstring dir = rig.dir / L"\u041f\u0440\u0438\u0432\u0435\u0442 \u4e16\u754c";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    const std::wstring fixture = dir + L"\\fx_order1.exe";
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"fx_order1.exe"), fixture));
    wchar_t shortPath[MAX_PATH] = {};
    GetShortPathNameW(fixture.c_str(), shortPath, MAX_PATH);
    const std::string path = testkit::NarrowAnsi(shortPath);
    if (path.empty() || path.find('?') != std::string::npos)
        GTEST_SKIP() << "this volume keeps no short names";
    // A process started by that short path: its long form must not be taken
    // through the code page, which has no letters for it.
    std::string chosen;
    wchar_t longPath[PATH_BUFFER_SIZE] = {};
    GetAnsiModulePath(shortPath, &chosen, longPath);
    EXPECT_BYTES(path, chosen);
    {
        testkit::FixtureProcess running(fixture);
        rig.Run(L"/debuglog");
    }
    EXPECT_BYTES(path + "\t\tDeutsch$", RecordOf(rig.Read(L"processes.dat"), path));
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(rig::InOrder(rig::Normalized(rig.Read(L"taskroll.log")),
                             {path + ": the full path is outside the ANSI code page; its short path is used",
                              "Processing module " + path}));
}

// The id table starts small here and must grow until every process fits.
TEST(Listing, ProcessTableGrowsUntilEveryIdFits)
{
    testkit::FixtureProcess first(testkit::Sibling(L"waiter.exe")), second(testkit::Sibling(L"waiter.exe"));
    std::vector<DWORD> ids;
    ASSERT_TRUE(EnumerateProcessIds(&ids, 1));
    EXPECT_GT(ids.size(), 3u);
    for (DWORD id : {GetCurrentProcessId(), first.Id(), second.Id()})
        EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 1) << id;
}

// Devices and pipes answer a read only when they have data: a listed one is
// never read (the run would wait forever), only logged, and gives no line.
TEST(Listing, DevicesAndPipesAreNeverRead)
{
    const std::string pipeName = "\\\\.\\pipe\\taskroll_list_" + std::to_string(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    rig::Rig rig;
    const std::wstring waiter = rig.dir / L"waiter.exe";
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"waiter.exe"), waiter));
    const std::vector<std::string> devices = {"COM1", "AUX", "NUL", "CONIN$", "\\\\.\\COM1", pipeName};
    std::string list;
    for (const std::string& name : devices)
        list += name + "\r\n";
    testkit::WriteBytes(rig.dir / L"list.txt", list + testkit::NarrowAnsi(waiter) + "\r\n");
    rig.Run(L"/debuglog /file:list.txt");
    CloseHandle(pipe);
    EXPECT_BYTES(testkit::NarrowAnsi(waiter) + "\t\tunknown_description$\r\n", rig.Read(L"processes.dat"));
    const std::string log = rig::Normalized(rig.Read(L"taskroll.log"));
    for (const std::string& name : devices) {
        SCOPED_TRACE(name);
        std::vector<std::string> lines = {name + ": module not found",
                                          "GetProcessInfo failed (Process Name = " + name + ")"};
        // Whatever this system says exists among them is a device: TaskRoll must say why it skips it.
        // The worker that checks each name has no console, so a console's name names nothing there.
        if (_access(name.c_str(), 0) == 0 && name != "CONIN$")
            lines.insert(lines.begin(), name + ": not a file on disk (a device or a pipe); it is not read");
        EXPECT_TRUE(rig::InOrder(log, lines));
    }
    // Nor is a device read as the list itself; the run lists the processes instead, and says so.
    if (_access("COM1", 0) == 0) {
        EXPECT_BYTES("TaskRoll: the input file cannot be read; the running processes are listed instead: COM1\r\n",
                     testkit::RunTool(rig.exe, L"/debuglog /file:COM1", rig.dir.Path()).err);
        EXPECT_TRUE(rig::InOrder(rig::Normalized(rig.Read(L"taskroll.log")),
                                 {"COM1: the input process list file is not a file on disk (a device or a pipe); it "
                                  "is not read",
                                  "TaskRoll Terminated"}));
    }
}

namespace {

// TaskRoll started in the rig's directory, its output going to files elsewhere.
struct StartedRun {
    testkit::TempDir streams;
    handles::ProcessHandle process;
    StartedRun(const rig::Rig& rig, const wchar_t* arguments)
    {
        childkit::StartWithFiles(rig.exe, arguments, rig.dir.Path().c_str(), streams / L"out", streams / L"err", &process);
    }
};

}  // namespace

// A run killed while it writes leaves processes.dat byte for byte as it was.
// Then two runs at once: the long one removes what the killed one left, the
// short one may not remove the long one's new file. processes.dat ends as the
// whole output of the run that replaced it last, with the old one's attributes (Wine keeps no security
// descriptor to show), no other file is left, the log holds both runs' lines.
TEST(Listing, KilledAndOverlappingRunsLeaveOneWholeOutput)
{
    rig::Rig rig;
    const std::wstring output = rig.dir / L"processes.dat";
    const std::string before = "C:\\earlier.exe\t\tEarlier$\r\n", waiter = testkit::NarrowAnsi(rig.dir / L"waiter.exe");
    testkit::WriteBytes(output, before);
    ASSERT_TRUE(SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"waiter.exe"), rig.dir / L"waiter.exe"));
    std::string list, listing;
    for (int i = 0; i < 300; ++i) {
        list += waiter + "\r\n";
        listing += waiter + "\t\tunknown_description$\r\n";
    }
    testkit::WriteBytes(rig.dir / L"list.txt", list);
    testkit::WriteBytes(rig.dir / L"short.txt", testkit::NarrowAnsi(rig.exe) + "\r\n");
    DWORD killedCode = 0, longCode = 1, shortCode = 1;
    {
        StartedRun run(rig, L"/debuglog /file:list.txt");
        childkit::AwaitChild(run.process.Get(), 60000, &killedCode, [&] {
            if (rig::NewFileSize(rig.dir.Path()) > 0)
                TerminateProcess(run.process.Get(), 77);
        });
    }
    ASSERT_EQ(killedCode, 77u) << "the run ended before it had written a part of its records";
    EXPECT_BYTES(before, rig.Read(L"processes.dat"));
    EXPECT_GE(rig::NewFileSize(rig.dir.Path()), 0);
    {
        StartedRun longRun(rig, L"/debuglog /file:list.txt");
        for (int i = 0; i < 2000 && (rig.Read(L"taskroll.log").find("Removed ") == std::string::npos ||
                                     rig::NewFileSize(rig.dir.Path()) < 0); ++i)
            Sleep(5);
        StartedRun shortRun(rig, L"/debuglog /file:short.txt");
        childkit::AwaitChild(shortRun.process.Get(), 60000, &shortCode);
        childkit::AwaitChild(longRun.process.Get(), 60000, &longCode);
    }
    EXPECT_EQ(longCode, 0u);
    EXPECT_EQ(shortCode, 0u);
    // Whichever run replaced it last, it is that run's whole output (a slow
    // machine may let the short run end after the long one).
    const std::string shortListing = testkit::NarrowAnsi(rig.exe) + "\t\tTaskRoll process lister$\r\n";
    const std::string last = rig.Read(L"processes.dat");
    EXPECT_TRUE(last == listing || last == shortListing) << last.substr(0, 200);
    EXPECT_EQ(rig::Names(rig.dir.Path()), (std::vector<std::wstring>{L"TaskRoll.exe", L"list.txt", L"processes.dat",
                                                                      L"short.txt", L"taskroll.log", L"waiter.exe"}));
    EXPECT_EQ(GetFileAttributesW(output.c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD(FILE_ATTRIBUTE_HIDDEN));
    const std::vector<std::string> lines = rig::Lines(rig::Normalized(rig.Read(L"taskroll.log")));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "T: TaskRoll Terminated"), 2);
}
