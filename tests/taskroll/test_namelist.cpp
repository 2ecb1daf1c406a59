#include "rig.h"
#include "internal.h"
#include "namelist.h"
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
    run.result = rig.Run(L"/debuglog " + arguments);
    run.listing = rig.Read(L"processes.dat");
    run.log = rig.Read(L"taskroll.log");
    return run;
}

bool Logged(const std::string& log, const std::string& message)
{
    return log.find(": " + message + "\r\n") != std::string::npos;
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
        {"260 bytes stop the reading", "C:\\a.exe\r\n" + TOO_LONG + "\r\nC:\\b.exe\r\n", {"C:\\a.exe"}},
    };
    testkit::TempDir dir;
    for (const auto& c : cases)
        EXPECT_EQ(ReadList(dir, c.bytes), c.names) << c.what;
}

TEST(NameList, ListedPathsAreDescribed)
{
    rig::Rig rig;
    std::string self = testkit::NarrowAnsi(rig.exe);
    std::string missing = testkit::NarrowAnsi(rig.dir / L"missing.exe");
    testkit::WriteBytes(rig.dir / L"list.txt", self + "\r\n\r\n" + missing + "\n" + self);
    Outcome run = RunTaskRoll(rig, L"/file:list.txt");

    char description[PATH_BUFFER_SIZE] = {};
    const std::string path = testkit::NarrowAnsi(testkit::Sibling(L"TaskRoll.exe"));
    VersionResource resource;
    ReadVersionResource(path.c_str(), &resource);
    GetVersionInfo("FileDescription", description, path.c_str(), resource, "");
    // The own executable is described like any other listed file, and twice when listed twice.
    std::string line = self + "\t\t" + description + "$";
    EXPECT_BYTES(line + "\r\n" + line + "\r\n", run.listing);
    EXPECT_BYTES(line + "\n", run.result.out);
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

TEST(NameList, FailuresAreLogged)
{
    const struct {
        const char* what;
        std::wstring arguments;
        std::string listFile;
        const char* message;
        bool listMode;
    } cases[] = {
        {"missing file", L"/file:none.txt", "", "Failed to open input process list file: nError 2", false},
        // Without /file: the path is empty; Windows' runtime says EINVAL (22) for it.
        {"empty path", L"", "", "Failed to open input process list file: nError 22", false},
        {"too long line", L"/file:list.txt", "TaskRoll.exe\r\n" + TOO_LONG + "\r\nTaskRoll.exe\r\n",
         "Too long line found in the input file", true},
    };
    for (const auto& c : cases) {
        rig::Rig rig;
        if (!c.listFile.empty())
            testkit::WriteBytes(rig.dir / L"list.txt", c.listFile);
        Outcome run = RunTaskRoll(rig, c.arguments);
        EXPECT_TRUE(Logged(run.log, c.message)) << c.what << "\n" << run.log;
        // Without names the running processes are listed; with them, only the names before the long line.
        if (c.listMode) {
            EXPECT_EQ(run.listing.rfind("TaskRoll.exe\t\t"), 0u) << c.what;
        }
        EXPECT_EQ(run.log.find(": Skipping current process") == std::string::npos, c.listMode) << c.what;
    }
}
