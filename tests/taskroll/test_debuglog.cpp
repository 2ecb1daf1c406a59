// The debug log: what TaskRoll runs leave in it, and the writer itself, which
// this test program opens beside its own executable.
#include "rig.h"
#include "internal.h"
#include "debuglog.h"

#include <cctype>
#include <cstring>

using rig::BANNER;
using rig::Trace;

static const std::string EARLIER = "a line of an earlier run\r\n";

// Each run appends a banner and its lines after whatever the file held; a
// second "/debuglog" opens nothing more.
TEST(DebugLog, RunsAppend)
{
    rig::Rig rig;
    testkit::WriteBytes(rig.dir / L"taskroll.log", EARLIER);
    rig.Run(L"/debuglog /?");
    rig.Run(L"/debuglog /debuglog /?");
    const std::string end = Trace("ShowUsage") + Trace("FreeLogFile");
    EXPECT_BYTES(EARLIER + BANNER + Trace("ExtractParamValue", 2) + end + BANNER + Trace("ExtractParamValue", 4) + end,
                 rig::Normalized(rig.Read(L"taskroll.log")));
}

// The log stays as it was without "/debuglog", when another process holds it
// without sharing it for writing, and when it has another hard link (planted
// beside the program); the run lists as usual, and a log not written is told
// in one line on standard error. A planted symbolic link is refused likewise
// (tests/core/test_outputfile.cpp): Wine shows a link as the file it names.
TEST(DebugLog, UntouchedWithoutOptionOrWhenHeld)
{
    enum Setup { NO_OPTION, HELD, HARD_LINK };
    for (Setup setup : {NO_OPTION, HELD, HARD_LINK}) {
        SCOPED_TRACE(setup);
        rig::Rig rig;
        const std::wstring log = rig.dir / L"taskroll.log";
        testkit::WriteBytes(setup == HARD_LINK ? rig.dir / L"other" : log, EARLIER);
        if (setup == HARD_LINK) {
            ASSERT_TRUE(CreateHardLinkW(log.c_str(), (rig.dir / L"other").c_str(), nullptr));
        }
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (setup == HELD)
            holder = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        testkit::RunResult run = testkit::RunTool(rig.exe, setup == NO_OPTION ? L"" : L"/debuglog", rig.dir.Path());
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_BYTES(EARLIER, rig.Read(L"taskroll.log"));
        EXPECT_NE(rig.Read(L"processes.dat").find("$\r\n"), std::string::npos);
        std::string logPath = testkit::NarrowAnsi(log);
        for (char& c : logPath)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string told = "TaskRoll: cannot open the debug log: " + logPath + ": ";
        if (setup == NO_OPTION) {
            EXPECT_BYTES("", run.err);
        } else if (setup == HARD_LINK) {
            EXPECT_BYTES(told + "it has other hard links and is not written\r\n", run.err);
        } else {
            EXPECT_TRUE(run.err.find(told) == 0 && rig::Lines(run.err).size() == 1) << testkit::Escape(run.err);
        }
    }
}

// Arguments reach the log as data, never as a format.
TEST(DebugLog, ArgumentsAreNotFormats)
{
    rig::Rig rig;
    EXPECT_BYTES("TaskRoll: the input file cannot be read; the running processes are listed instead: %s%d%n\r\n",
                 testkit::RunTool(rig.exe, L"/debuglog /file:%s%d%n", rig.dir.Path()).err);
    EXPECT_TRUE(rig::InOrder(rig::Normalized(rig.Read(L"taskroll.log")),
                               {"Delimeter is set to 'TAB'", "Extracting process names from file: %s%d%n",
                                "TaskRoll Terminated"}));
}

// The log lies beside the executable, not in the current directory, under the
// executable's lower-cased name with ".log" for the ".exe" that ends it.
TEST(DebugLog, LiesBesideTheExecutable)
{
    const struct {
        const wchar_t* directory;
        const wchar_t* name;
        const wchar_t* log;  // nullptr: no log at all
    } cases[] = {
        {L"Build.EXE.old", L"TaskRoll.EXE", L"taskroll.log"},
        {L"bin", L"TaskRoll.bin", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testkit::NarrowAnsi(c.name));
        rig::Rig rig;
        const std::wstring dir = rig.dir / c.directory;
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        ASSERT_TRUE(testkit::CopyTo(rig.exe, dir + L"\\" + c.name));
        testkit::RunResult run = testkit::RunTool(dir + L"\\" + c.name, L"/debuglog", rig.dir.Path());
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(testkit::FileExists(rig.dir / L"processes.dat"));
        std::wstring found;
        for (const std::wstring& where : {rig.dir.Path(), dir}) {
            WIN32_FIND_DATAW entry;
            HANDLE find = FindFirstFileW((where + L"\\*.log").c_str(), &entry);
            if (find != INVALID_HANDLE_VALUE) {
                found += where + L"\\" + entry.cFileName;
                FindClose(find);
            }
        }
        EXPECT_EQ(testkit::NarrowAnsi(found), c.log ? testkit::NarrowAnsi(dir + L"\\" + c.log) : "");
    }
}

// Wine's runtime leaves letters beyond ASCII (such as 0xC4 in code page 1252)
// as they are in its default locale, so no case rests on them.
TEST(DebugLog, MakeLogPath)
{
    const std::string longDirectory = "C:\\" + std::string(247, 'd') + "\\";  // 251 bytes
    const struct {
        std::string executable;
        unsigned size;
        std::string log;  // empty: no log
    } cases[] = {
        {"C:\\Tools\\TaskRoll.EXE", 261, "c:\\tools\\taskroll.log"},
        {"D:\\build.exe.old\\TaskRoll.exe", 261, "d:\\build.exe.old\\taskroll.log"},
        {"C:\\A.EXE\\B.Exe", 261, "c:\\a.exe\\b.log"},
        {"C:\\Tools\\TaskRoll", 261, ""},
        {"C:\\Tools\\TaskRoll.exe.old", 261, ""},
        {"C:\\Tools\\TaskRoll.ex", 261, ""},
        {"C:\\Tools\\TaskRollexe", 261, ""},
        {longDirectory + "ABCD.EXE", 260, "c" + longDirectory.substr(1) + "abcd.log"},
        {longDirectory + "ABCD.EXE", 259, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testkit::Escape(c.executable));
        char log[300];
        bool made = MakeLogPath(c.executable.c_str(), log, c.size);
        ASSERT_EQ(made, !c.log.empty());
        if (made) {
            EXPECT_BYTES(c.log, log);
        }
    }
}

// One test, because a run opens its log once: lines too long are cut to 1023
// bytes with their CR LF, arguments are copied as they are (a CR or LF in
// them as a space, so that no line can be forged), and after
// FreeLogFile nothing more is written, not even by a new InitLogFile.
TEST(DebugLog, WriterLines)
{
    const std::wstring path = testkit::Sibling(L"taskroll_debuglog_tests.log");
    DeleteFileW(path.c_str());
    InitLogFile();
    ASSERT_TRUE(IsLogOpen());
    const std::string a(1011, 'a'), b(1012, 'b'), c(5000, 'c');
    for (const std::string* message : {&a, &b, &c})
        LogMessage("%s", message->c_str());
    SetLastError(1234);
    LogMessage("%s", "%s%d%n");
    EXPECT_EQ(GetLastError(), 1234u);
    LogMessage("'%s' read", "Line one\r\nT: forged\n");
    LogTrace("WriterLines");
    FreeLogFile();
    LogMessage("after FreeLogFile");
    InitLogFile();
    LogMessage("after a second InitLogFile");
    EXPECT_FALSE(IsLogOpen());

    std::string log = testkit::ReadBytes(path);
    EXPECT_BYTES(BANNER + "T: " + a + "\r\nT: " + b.substr(0, 1011) + "\r\nT: " + c.substr(0, 1011) +
                     "\r\nT: %s%d%n\r\nT: 'Line one  T: forged ' read\r\n" + Trace("WriterLines") + Trace("FreeLogFile"),
                 rig::Normalized(log));
    for (const std::string& line : rig::Lines(log))
        EXPECT_LE(line.size() + 2, 1023u);
}
