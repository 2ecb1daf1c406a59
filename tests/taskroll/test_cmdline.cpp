// The command line and the run as a whole, seen from outside: TaskRoll.exe runs
// as a child process in a fresh directory; its standard output, processes.dat
// and debug log are compared byte for byte.
#include "rig.h"

#include <algorithm>
#include <iostream>

using rig::BANNER;
using rig::EndsWith;
using rig::Trace;

namespace {

const std::string USAGE =
    "USAGE:\r\n"
    "\ttaskroll [/debuglog] [/setpriv] [/delim:{delimeter}] [/file:{input file}]\r\n"
    "\r\n"
    "where\r\n"
    "\t{delimeter} is one of the following values: TAB (default), COMMA, SEMIC\r\n"
    "\t{input file} is the full pathname of an input file\r\n";

const std::string TERMINATED = "T: TaskRoll Terminated\r\n" + Trace("FreeLogFile");
const std::string SENTINEL = "left as it was\r\n";

// When the file was last written, or "absent".
std::string LastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return "absent";
    const FILETIME& time = data.ftLastWriteTime;
    return std::to_string(time.dwHighDateTime) + ":" + std::to_string(time.dwLowDateTime);
}

// Standard output holds the last record written to processes.dat, with LF
// for its CR LF, whatever came after it. Wine lists processes in the order
// they were started, so TaskRoll itself is handled last there, after the
// record that standard output must still show.
void ExpectLastRecordOnStdout(const testkit::RunResult& run, const std::string& listing)
{
    std::vector<std::string> lines = rig::Lines(listing);
    EXPECT_BYTES(lines.empty() ? "" : lines.back() + "\n", run.out);
}

struct OptionCase {
    std::wstring arguments;
    const char* delimiter;
    const char* name;            // in the log; nullptr: no log
    int parameterTraces;         // ExtractParamValue trace lines after the log opened
    std::string inputPath = "";  // as the log shows it
};

}  // namespace

TEST(CommandLine, OptionValues)
{
    const std::wstring path259(259, L'f');
    const OptionCase cases[] = {
        {L"", "\t", nullptr, 0},
        {L"/debuglog", "\t", "TAB", 2},
        {L"/debuglog /delim:TAB", "\t", "TAB", 3},
        {L"/debuglog /delim:COMMA", ",", "COMMA", 3},
        {L"/debuglog /delim:SEMIC", ";", "SEMIC", 3},
        {L"/debuglog /delim:semic", "\t", "TAB", 3},
        {L"/debuglog /delim:PIPE", "\t", "TAB", 3},
        {L"/debuglog /Delim:COMMA", "\t", "TAB", 4},
        {L"/debuglog /delim:COMMA /delim:comma", "\t", "TAB", 4},
        {L"/debuglog /delim:COMMA /delim:", ",", "COMMA", 5},
        {L"/debuglog /delim:SEMIC /delim:123456789", "\t", "TAB", 4},
        {L"/debuglog /delim:SEMIC /delim:SEMICOLONS", ";", "SEMIC", 5},
        {L"/delim:COMMA /DEBUGLOG", ",", nullptr, 0},
        {L"/delim:SEMIC /x /debuglog", ";", "SEMIC", 2},
        {L"/debuglog /file:" + path259, "\t", "TAB", 4, std::string(259, 'f')},
        {L"/debuglog /file:" + path259 + L"f", "\t", "TAB", 4},
        {L"/debuglog /file:a /file: /FILE:b", "\t", "TAB", 8, "a"},
    };
    testkit::FixtureProcess waiter(testkit::Sibling(L"waiter.exe"));
    const std::string waiterPath = testkit::NarrowAnsi(testkit::Sibling(L"waiter.exe"));
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(testkit::NarrowAnsi(c.arguments));
        rig::Rig rig;
        testkit::RunResult run = testkit::RunTool(rig.exe, c.arguments, rig.dir.Path());
        EXPECT_EQ(run.exitCode, 0u);
        // No such list: the run says so, and lists the running processes.
        EXPECT_BYTES(c.inputPath.empty() ? "" : "TaskRoll: the input file cannot be read; the running processes are "
                                                "listed instead: " + c.inputPath + "\r\n",
                     run.err);
        std::string listing = rig.Read(L"processes.dat");
        std::string d = c.delimiter;
        EXPECT_NE(("\n" + listing).find("\n" + waiterPath + d + d + "unknown_description$\r\n"), std::string::npos)
            << testkit::Escape(listing);
        if (c.name == nullptr) {
            EXPECT_FALSE(testkit::FileExists(rig.dir / L"taskroll.log"));
            continue;
        }
        std::string log = rig::Normalized(rig.Read(L"taskroll.log"));
        std::string head = BANNER + Trace("ExtractParamValue", c.parameterTraces);
        head += "T: Delimeter is set to '" + std::string(c.name) + "'\r\n";
        head += "T: Extracting process names from file: " + c.inputPath + "\r\n";
        EXPECT_BYTES(head, rig::UpTo(log, "Extracting process names"));
        EXPECT_TRUE(EndsWith(log, TERMINATED)) << testkit::Escape(log);
        ExpectLastRecordOnStdout(run, listing);
    }
}

// Runs that end at "/?": the usage text (written in text mode, so CR LF), no
// listing, processes.dat untouched, and a log only when "/debuglog" came first.
TEST(CommandLine, UsageEndsTheRun)
{
    const struct {
        const wchar_t* arguments;
        std::string log;  // empty: no log file
    } cases[] = {
        {L"/?", ""},
        {L"/? /debuglog", ""},
        {L"/icon /? /debuglog", ""},
        {L"/debuglog /?", BANNER + Trace("ExtractParamValue", 2) + Trace("ShowUsage") + Trace("FreeLogFile")},
        {L"/delim:COMMA /debuglog /debuglog /? /delim:SEMIC",
         BANNER + Trace("ExtractParamValue", 4) + Trace("ShowUsage") + Trace("FreeLogFile")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testkit::NarrowAnsi(c.arguments));
        rig::Rig rig;
        testkit::WriteBytes(rig.dir / L"processes.dat", SENTINEL);
        testkit::RunResult run = rig.Run(c.arguments);
        EXPECT_BYTES(USAGE, run.out);
        EXPECT_BYTES(SENTINEL, rig.Read(L"processes.dat"));
        EXPECT_FALSE(testkit::FileExists(rig.dir / L"ico"));
        if (c.log.empty())
            EXPECT_FALSE(testkit::FileExists(rig.dir / L"taskroll.log"));
        else
            EXPECT_BYTES(c.log, rig::Normalized(rig.Read(L"taskroll.log")));
    }
}

TEST(CommandLine, IconDirectoryIsEnsured)
{
    enum Setup { NO_ENTRY, A_DIRECTORY, A_FILE };
    for (Setup setup : {NO_ENTRY, A_DIRECTORY, A_FILE}) {
        SCOPED_TRACE(setup);
        rig::Rig rig;
        const std::wstring ico = rig.dir / L"ico";
        if (setup == A_DIRECTORY)
            CreateDirectoryW(ico.c_str(), nullptr);
        if (setup == A_FILE)
            testkit::WriteBytes(ico, "not a directory");
        testkit::WriteBytes(rig.dir / L"processes.dat", SENTINEL);
        rig.Run(L"/icon");
        DWORD attributes = GetFileAttributesW(ico.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, setup != A_FILE);
        std::string listing = rig.Read(L"processes.dat");
        EXPECT_NE(listing, SENTINEL);
        EXPECT_FALSE(listing.empty());
    }
}

// On Windows a directory whose ACL forbids subdirectories would do; Wine has
// no ACLs and root ignores permission bits (a read-only attribute on a
// directory forbids nothing, on Windows neither). The test build lays a
// dangling Unix link named "ico" instead: GetFileAttributesA does not see it,
// CreateDirectoryA runs into it.
TEST(CommandLine, IconCreationFailureListsNothing)
{
    const std::wstring dir = testkit::Sibling(L"icofail");
    if (!testkit::FileExists(dir) || testkit::FileExists(dir + L"\\ico"))
        GTEST_SKIP() << "no directory where \"ico\" cannot be made (only a Wine test build lays one)";
    rig::Rig rig;
    const std::wstring output = dir + L"\\processes.dat";
    testkit::WriteBytes(output, SENTINEL);
    testkit::RunResult run = rig.Run(L"/debuglog /icon", dir, 2);
    EXPECT_BYTES("", run.out);
    EXPECT_BYTES("TaskRoll: cannot create the icons directory: " + testkit::NarrowAnsi(dir) + "\\ico\r\n", run.err);
    EXPECT_BYTES(SENTINEL, testkit::ReadBytes(output));
    DeleteFileW(output.c_str());
    std::string log = rig::Normalized(rig.Read(L"taskroll.log"));
    EXPECT_TRUE(EndsWith(log, "T: Unable to create icons subdirectory\r\n" + Trace("FreeLogFile")))
        << testkit::Escape(log);
    EXPECT_EQ(log.find("GetProcessesData"), std::string::npos);
}

// A current directory that leaves no room for "\processes.dat" in 260 bytes
// lists nothing, neither there nor at the drive root. Longer directories cannot
// be had: Windows caps the current directory at 258 characters, and Wine
// fails to start a process in a longer one.
TEST(CommandLine, CurrentDirectoryTooLong)
{
    for (std::size_t length : {245u, 246u, 258u}) {
        SCOPED_TRACE(length);
        rig::Rig rig;
        std::wstring cwd = rig.dir.Path();
        while (cwd.size() < length) {
            cwd += L"\\" + std::wstring(std::min<std::size_t>(length - cwd.size() - 1, 40), L'd');
            ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + cwd).c_str(), nullptr));
        }
        ASSERT_EQ(cwd.size(), length);
        const std::wstring root = cwd.substr(0, 3) + L"processes.dat";
        const std::string rootBefore = LastWrite(root);
        const bool fits = length + 14 < 260;
        testkit::RunResult run = rig.Run(L"/debuglog", cwd, fits ? 0 : 1);
        if (!fits) {
            EXPECT_BYTES("TaskRoll: the current directory is too long for the output file path: " +
                             testkit::NarrowAnsi(cwd) + "\r\n",
                         run.err);
        }
        std::string log = rig::Normalized(rig.Read(L"taskroll.log"));
        EXPECT_EQ(testkit::FileExists(cwd + L"\\processes.dat"), fits);
        EXPECT_EQ(LastWrite(root), rootBefore);
        std::string end = fits ? TERMINATED
                               : "T: Current directory is too long for the output file path; nothing is listed\r\n" +
                                     Trace("FreeLogFile");
        EXPECT_TRUE(EndsWith(log, end)) << testkit::Escape(log);
    }
}

TEST(CommandLine, OwnProcessNeverListed)
{
    rig::Rig rig;
    rig.Run(L"/debuglog");
    EXPECT_EQ(rig.Read(L"processes.dat").find(testkit::NarrowAnsi(rig.exe)), std::string::npos);
    std::string log = rig.Read(L"taskroll.log");
    const std::string skip = "Skipping current process (ID = ";
    std::size_t at = log.find(skip);
    ASSERT_NE(at, std::string::npos) << testkit::Escape(log);
    EXPECT_EQ(log.find(skip, at + 1), std::string::npos);
    std::string id = log.substr(at + skip.size(), log.find(')', at) - at - skip.size());
    EXPECT_EQ(log.find("GetProcessInfo started (Process ID = " + id + ")"), std::string::npos);
}

// In list mode too: a last name that is missing, or that only the log
// mentions, leaves the record before it on standard output.
TEST(CommandLine, StandardOutputKeepsTheLastRecordWritten)
{
    rig::Rig rig;
    const std::string waiter = testkit::NarrowAnsi(testkit::Sibling(L"waiter.exe"));
    const std::string missing = testkit::NarrowAnsi(rig.dir / L"missing.exe");
    const std::vector<std::string> lists[] = {{waiter, missing}, {missing, waiter, missing, missing}, {missing}};
    for (const auto& names : lists) {
        std::string list;
        for (const std::string& name : names)
            list += name + "\r\n";
        SCOPED_TRACE(list);
        testkit::WriteBytes(rig.dir / L"list.txt", list);
        testkit::RunResult run = rig.Run(L"/file:list.txt");
        const std::string listing = rig.Read(L"processes.dat");
        EXPECT_EQ(rig::Lines(listing).size(), names.size() > 1 ? 1u : 0u);
        ExpectLastRecordOnStdout(run, listing);
    }
}

// A current directory and a program directory named outside the ANSI code page
// get their listing and log, and a message names such a path by its short form.
TEST(CommandLine, FoldersOutsideTheCodePage)
{
    rig::Rig rig;
    const std::wstring dir = rig.dir / L"\u0418\u043d\u0441\u0442\u0440\u0443\u043c\u0435\u043d\u0442\u044b";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(testkit::CopyTo(rig.exe, dir + L"\\TaskRoll.exe"));
    const std::string waiter = testkit::NarrowAnsi(testkit::Sibling(L"waiter.exe"));
    testkit::WriteBytes(dir + L"\\list.txt", waiter + "\r\n");
    testkit::RunResult run = testkit::RunTool(dir + L"\\TaskRoll.exe", L"/debuglog /file:list.txt", dir);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_BYTES("", run.err);
    EXPECT_BYTES(waiter + "\t\tunknown_description$\r\n", testkit::ReadBytes(dir + L"\\processes.dat"));
    EXPECT_TRUE(EndsWith(rig::Normalized(testkit::ReadBytes(dir + L"\\taskroll.log")), TERMINATED));
    wchar_t shortDir[MAX_PATH] = {};
    GetShortPathNameW(dir.c_str(), shortDir, MAX_PATH);
    const std::string shown = testkit::NarrowAnsi(shortDir);
    if (shown.empty() || shown.find('?') != std::string::npos)
        GTEST_SKIP() << "this volume keeps no short names";
    ASSERT_TRUE(CreateHardLinkW((dir + L"\\other").c_str(), (dir + L"\\processes.dat").c_str(), nullptr));
    run = testkit::RunTool(dir + L"\\TaskRoll.exe", L"/file:list.txt", dir);
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_BYTES("TaskRoll: the output file has other hard links and is not written: " + shown + "\\processes.dat\r\n",
                 run.err);
}

// Runs that cannot produce their listing end with a code of their own and one
// line on standard error that names the cause and the path; standard output
// stays empty and processes.dat as it was. The small volume is a 16 KiB tmpfs
// that scripts/test.sh mounts beside the test programs as root (elsewhere a
// skip): the new file does not fit there, with a filler not even one record.
// A failing process enumeration cannot be had, nor (Wine has no oplocks) a
// replace held back past its deadline.
TEST(CommandLine, FailedRunsSayWhy)
{
    const std::wstring smallVolume = testkit::Sibling(L"smallvolume");
    const struct {
        const char* what;
        int names;  // listed files: one record fits the stream's buffer, many do not; < 0: with a filler
        DWORD code;
        const char* cause;
        const char* failure;  // the start of the log line
    } cases[] = {
        {"output path is a directory", 1, 3, "cannot open the output file",
         "Failed to open output process list file: nError 13"},
        // Written, it would change the other file: a planted link to a system file.
        {"output is a hard link", 1, 3, "the output file has other hard links and is not written",
         "Output process list file has other hard links; it is not written"},
        // A reader that does not share it for deletion keeps the file it reads.
        {"output held by a reader", 1, 6, "cannot replace the output file; it is left as it was",
         "Failed to replace the output process list file (error "},
        {"small volume at the close", -1, 4, "cannot write the output file",
         "Failed to write output process list file: nError 28"},
        // A short write fills the volume; Wine's runtime sets no ENOSPC for it.
        {"small volume while listing", 300, 4, "cannot write the output file",
         "Failed to write output process list file: nError "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        rig::Rig rig;
        std::wstring workDir = rig.dir.Path();
        const bool hardLink = std::string(c.what) == "output is a hard link";
        handles::FileHandle reader;  // closed after the checks
        ULARGE_INTEGER volumeSize = {};
        if (hardLink) {
            testkit::WriteBytes(rig.dir / L"other", SENTINEL);
            ASSERT_TRUE(CreateHardLinkW((rig.dir / L"processes.dat").c_str(), (rig.dir / L"other").c_str(), nullptr));
        } else if (c.code == 3) {
            ASSERT_TRUE(CreateDirectoryW((rig.dir / L"processes.dat").c_str(), nullptr));
        } else if (c.code == 6) {
            testkit::WriteBytes(rig.dir / L"processes.dat", SENTINEL);
            reader.Reset(CreateFileW((rig.dir / L"processes.dat").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(reader);
        } else if (GetDiskFreeSpaceExW(smallVolume.c_str(), nullptr, &volumeSize, nullptr) &&
                   volumeSize.QuadPart < 64 * 1024) {
            workDir = smallVolume;
            testkit::WriteBytes(smallVolume + L"\\processes.dat", SENTINEL);
            if (c.names < 0)
                testkit::WriteBytes(smallVolume + L"\\filler", std::string(12 * 1024, 'f'));
        } else {
            // The small-volume rows come last: the rows before them have been checked.
            GTEST_SKIP() << "no small volume for the output (scripts/test.sh mounts one when it runs as root)";
        }
        std::string list;
        for (int i = 0; i < std::abs(c.names); ++i)
            list += testkit::NarrowAnsi(rig.exe) + "\r\n";
        testkit::WriteBytes(rig.dir / L"list.txt", list);
        testkit::RunResult run = rig.Run(L"/debuglog /file:" + (rig.dir / L"list.txt"), workDir, c.code);
        EXPECT_BYTES("", run.out);
        EXPECT_BYTES("TaskRoll: " + std::string(c.cause) + ": " + testkit::NarrowAnsi(workDir) + "\\processes.dat\r\n",
                     run.err);
        EXPECT_BYTES(hardLink ? SENTINEL : "", rig.Read(L"other"));
        if (c.code != 3) {
            EXPECT_BYTES(SENTINEL, testkit::ReadBytes(workDir + L"\\processes.dat"));
            EXPECT_EQ(rig::NewFileSize(workDir), -1);
        }
        if (workDir == smallVolume) {
            DeleteFileW((smallVolume + L"\\processes.dat").c_str());
            DeleteFileW((smallVolume + L"\\filler").c_str());
        }
        std::string log = rig::Normalized(rig.Read(L"taskroll.log"));
        std::size_t at = log.find("\nT: " + std::string(c.failure));
        ASSERT_NE(at, std::string::npos) << testkit::Escape(log);
        EXPECT_TRUE(rig::InOrder(log.substr(at + 1), {"TaskRoll Terminated"}));
        EXPECT_EQ(log.find("Failed to", at + 5), std::string::npos) << testkit::Escape(log);
    }
}
