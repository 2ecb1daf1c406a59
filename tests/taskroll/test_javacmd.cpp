// Not shown here: the "GetUserName error" line (36 bytes of UTF-16 on standard
// output), since Wine takes the user name from the Unix account and
// GetUserNameA does not fail there, whatever the environment says; nor a file
// that opens but whose size cannot be read (-2): every file that opens
// reports one, on Wine as on Windows.
#include "rig.h"
#include "internal.h"
#include "javacmd.h"
#include "testkit.h"

#include <winioctl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace std::string_literals;

namespace {

const std::string SAMPLE_COMMAND = "Inventory 8000 --profile night shift";

// Sets TEMP for this process and the programs it starts (nullptr removes it),
// and puts the old value back at the end of the scope.
struct TempVariable {
    explicit TempVariable(const char* value)
    {
        const char* old = std::getenv("TEMP");
        hadOld = old != nullptr;
        if (hadOld)
            oldValue = old;
        _putenv_s("TEMP", value ? value : "");
    }
    ~TempVariable() { _putenv_s("TEMP", hadOld ? oldValue.c_str() : ""); }
    bool hadOld;
    std::string oldValue;
};

std::string UserName()
{
    char name[1024] = {};
    DWORD size = sizeof name;
    GetUserNameA(name, &size);
    return name;
}

// A file of `size` bytes, zero but for `tail` at its end, that takes no disk space.
void WriteSparse(const std::wstring& path, long long size, const std::string& tail = "")
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &count, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size - static_cast<long long>(tail.size());
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    EXPECT_TRUE(WriteFile(file, tail.data(), static_cast<DWORD>(tail.size()), &count, nullptr));
    CloseHandle(file);
}

// Dates the file's last write to the year 2000: any file written now is newer.
void MakeOld(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const FILETIME year2000 = {0x256D4000, 0x01BF53EB};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &year2000));
    CloseHandle(file);
}

// The owner's TEMP as registered for the user, expanded as their session expands it.
std::wstring RegisteredTemp()
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, L"Environment", L"TEMP", RRF_RT_REG_SZ, nullptr, value,
                 &size);
    return value;
}

// Runs the Unix `tool` (mkfifo, rm) on `directory`\`name`, which Wine starts
// as a Unix program, and waits until the entry is there or gone. A named pipe
// is made and removed so, since Wine neither makes nor deletes one, nor tells
// its attributes: only the directory's list shows it. False where that cannot
// be done (Windows).
bool RunUnixTool(const wchar_t* tool, const std::wstring& directory, const std::wstring& name)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unixDirectory = unixName ? unixName(directory.c_str()) : nullptr;
    if (unixDirectory == nullptr)
        return false;
    std::wstring command = std::wstring(tool) + L" \"" + testkit::WidenAnsi(unixDirectory) + L"/" + name + L"\"";
    HeapFree(GetProcessHeap(), 0, unixDirectory);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW((L"Z:\\usr\\bin\\" + std::wstring(tool)).c_str(), &command[0], nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started))
        return false;
    // A Unix program gives no handle to wait on.
    const bool make = std::wstring(tool) != L"rm";
    for (int i = 0; i < 500; ++i, Sleep(10)) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((directory + L"\\" + name).c_str(), &found);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        if ((search != INVALID_HANDLE_VALUE) == make)
            return true;
    }
    return false;
}

}  // namespace

TEST(JavaCommand, ReadsValueAfterKeyName)
{
    const struct {
        const char* what;
        bool exists;
        std::string bytes;
        int code;
        std::string value;
    } cases[] = {
        {"missing file", false, "", -1, ""},
        {"empty file", true, "", -4, ""},
        {"key then NUL as last byte", true, "javaCommand\0"s, -7, ""},
        {"value running to the end", true, "javaCommand\0Main to the end"s, 0, "Main to the end"},
    };
    testkit::TempDir dir;
    std::string path = testkit::NarrowAnsi(dir / L"perfdata");
    for (const auto& c : cases) {
        DeleteFileW((dir / L"perfdata").c_str());
        if (c.exists)
            testkit::WriteBytes(dir / L"perfdata", c.bytes);
        std::string value = "untouched";
        EXPECT_EQ(ReadPerfDataValue(path, "javaCommand", value), c.code) << c.what;
        EXPECT_BYTES(c.code == 0 ? c.value : "untouched", value) << c.what;
    }
}

TEST(JavaCommand, ReadsRealFileAndFileHeldOpenForWriting)
{
    std::string value;
    EXPECT_EQ(ReadPerfDataValue(testkit::NarrowAnsi(testkit::Sibling(L"hsperfdata-sample.bin")), "javaCommand", value), 0);
    EXPECT_BYTES(SAMPLE_COMMAND, value);

    // The virtual machine keeps its file open for writing, sharing reading only.
    testkit::TempDir dir;
    testkit::WriteBytes(dir / L"held", "javaCommand\0Main\0"s);
    HANDLE writer = CreateFileW((dir / L"held").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadPerfDataValue(testkit::NarrowAnsi(dir / L"held"), "javaCommand", value), 0);
    EXPECT_BYTES("Main", value);
    CloseHandle(writer);
}

TEST(JavaCommand, FilesLargerThanAnyPerformanceDataFile)
{
    // However sparse, a bigger file is not searched: a key at the end of
    // 2 GiB would cost seconds per process. Up to the bound it is read whole.
    const std::string tail = "javaCommand\0Main\0"s;
    const struct {
        long long size;
        int code;
    } cases[] = {
        {PERF_DATA_MAX_BYTES, 0},
        {PERF_DATA_MAX_BYTES + 1, -3},
        {(4LL << 30) + 16, -3},
    };
    testkit::TempDir dir;
    for (const auto& c : cases) {
        WriteSparse(dir / L"big", c.size, tail);
        std::string value = "untouched";
        EXPECT_EQ(ReadPerfDataValue(testkit::NarrowAnsi(dir / L"big"), "javaCommand", value), c.code) << c.size;
        EXPECT_EQ(value, c.code == 0 ? "Main" : "untouched");
    }
}

TEST(JavaCommand, PathFromTempUserAndProcessId)
{
    const struct {
        const char* what;
        const char* tempSuffix;  // nullptr: TEMP not set
        bool exists;
        std::string bytes;
        std::string command;
    } cases[] = {
        {"value found", "", true, "javaCommand\0Main a\0"s, "Main a"},
        {"TEMP ending in a backslash", "\\", true, "javaCommand\0Main a\0"s, "Main a"},
        {"empty value", "", true, "javaCommand\0\0"s, ""},
        {"no file", "", false, "", "before"},
        {"TEMP not set", nullptr, true, "javaCommand\0Main a\0"s, "before"},
    };
    testkit::TempDir dir;
    std::string perfDir = testkit::NarrowAnsi(dir.Path()) + "\\hsperfdata_" + UserName();
    ASSERT_TRUE(CreateDirectoryA(perfDir.c_str(), nullptr));
    for (const auto& c : cases) {
        DeleteFileA((perfDir + "\\812").c_str());
        if (c.exists)
            testkit::WriteBytes(testkit::WidenAnsi(perfDir + "\\812"), c.bytes);
        std::string temp = c.tempSuffix ? testkit::NarrowAnsi(dir.Path()) + c.tempSuffix : "";
        TempVariable variable(c.tempSuffix ? temp.c_str() : nullptr);
        EXPECT_EQ(GetPerfDataDir(), c.tempSuffix ? temp + "\\hsperfdata_" + UserName() + "\\" : "") << c.what;
        std::string command = "before";
        GetJavaCommandLine(812, command);
        EXPECT_BYTES(c.command, command) << c.what;
    }
}

TEST(JavaCommand, RecordOfJavawProcess)
{
    rig::Rig rig;  // its directory is also the TEMP of the runs
    TempVariable variable(testkit::NarrowAnsi(rig.dir.Path()).c_str());
    std::string perfDir = testkit::NarrowAnsi(rig.dir.Path()) + "\\hsperfdata_" + UserName() + "\\";
    ASSERT_TRUE(CreateDirectoryA(perfDir.c_str(), nullptr));

    testkit::FixtureProcess java(testkit::Sibling(L"javaw.exe"));
    std::string javaw = testkit::NarrowAnsi(testkit::Sibling(L"javaw.exe"));
    std::string upper = javaw.substr(0, javaw.size() - 9) + "JAVAW.EXE";
    testkit::WriteBytes(rig.dir / L"list.txt", javaw + "\r\n" + upper + "\r\n");
    const std::string sample = testkit::ReadBytes(testkit::Sibling(L"hsperfdata-sample.bin"));
    auto line = [](const std::string& first) { return first + "\t\tunknown_description$\r\n"; };

    // The listed paths go with process id 0; the upper-case name is no Java launcher.
    const struct {
        const char* what;
        std::string perfData;  // empty: no file
        std::wstring arguments;
        std::string expected;
    } cases[] = {
        {"no file", "", L"", line(javaw)},
        {"real file", sample, L"", line(SAMPLE_COMMAND)},
        {"listed, empty value", "javaCommand\0\0"s, L"/file:list.txt", line(javaw) + line(upper)},
        {"listed, real file", sample, L"/file:list.txt", line(SAMPLE_COMMAND) + line(upper)},
    };
    for (const auto& c : cases) {
        for (std::string id : {std::to_string(java.Id()), "0"s}) {
            DeleteFileA((perfDir + id).c_str());
            if (!c.perfData.empty())
                testkit::WriteBytes(testkit::WidenAnsi(perfDir + id), c.perfData);
        }
        rig.Run(c.arguments);
        std::string listing = rig.Read(L"processes.dat");
        if (c.arguments.empty()) {
            EXPECT_NE(listing.find(c.expected), std::string::npos) << c.what << "\n" << testkit::Escape(listing);
        } else {
            EXPECT_BYTES(c.expected, listing) << c.what;
        }
    }
}

// Where TaskRoll runs with a TEMP other than the virtual machine's, the file is
// found in the places of the process's owner, and only there. What Wine cannot
// show: every process there has one owner, the test's user, so the case of a
// JVM of another user or of a service account (whose places are found through
// its token's SID, in HKEY_USERS and the profile list, just as this one's are)
// runs the same code with another SID; Wine has no SYSTEM account and no
// %SystemRoot%\Temp services to look for; and it makes no reparse points, so
// a link in place of the file is refused by the same check that refuses the
// pipe and the directory here (the open does not follow it, and what it opened
// must be a plain disk file). Nor can it show a file that another user planted
// in TaskRoll's own TEMP (the system's Temp for a run as SYSTEM): every file
// has the test's user for its owner here, and Wine keeps no other owner that a
// test could give a file, so the owner check that refuses such a file passes
// for all of them. The plan and the verdict for those facts are tested
// natively, in tests/core/test_ownerplaces.cpp.
TEST(JavaCommand, OwnerPlaces)
{
    rig::Rig rig;  // its directory is TaskRoll's TEMP, no place of the owner's
    TempVariable variable(testkit::NarrowAnsi(rig.dir.Path()).c_str());
    const std::wstring today = rig.dir / testkit::WidenAnsi("hsperfdata_" + UserName());
    const std::wstring elsewhere = rig.dir / L"hsperfdata_someone-else";
    // Under the owner's registered TEMP, named after no user; removed also
    // when an earlier run failed halfway.
    const std::wstring owner = RegisteredTemp() + L"\\hsperfdata_taskroll-test-owner";
    testkit::FixtureProcess java(testkit::Sibling(L"javaw.exe"));
    const std::wstring id = std::to_wstring(java.Id());
    // Key-less files at the size bound, newer than the owner's file, in
    // directories of the owner's TEMP: so many fit in the lookup's budget
    // beside one in TaskRoll's TEMP that the owner's file still does.
    const int fittingPads = static_cast<int>(PERF_DATA_LOOKUP_BYTES / PERF_DATA_MAX_BYTES) - 2;
    std::vector<std::wstring> pads;
    for (int k = 0; k <= fittingPads; ++k)
        pads.push_back(RegisteredTemp() + L"\\hsperfdata_taskroll-test-pad" + std::to_wstring(k));
    auto clear = [&] {
        std::vector<std::wstring> directories = {today, elsewhere, owner};
        directories.insert(directories.end(), pads.begin(), pads.end());
        for (const std::wstring& directory : directories) {
            RemoveDirectoryW((directory + L"\\" + id).c_str());
            DeleteFileW((directory + L"\\" + id).c_str());
            RemoveDirectoryW(directory.c_str());
        }
    };
    clear();
    const std::string javaw = testkit::NarrowAnsi(testkit::Sibling(L"javaw.exe"));
    const std::string ownerFile = testkit::NarrowAnsi(owner + L"\\" + id);
    const std::string notFound = "no performance-data file for process " + testkit::NarrowAnsi(id);

    enum Entry { NONE, A_FILE, A_DIRECTORY, A_FIFO, A_BIG_FILE };
    const struct {
        const char* what;
        Entry today, owner, elsewhere;
        int pads;
        std::string first;   // the record's first field
        std::string logged;  // in the debug log; empty: the owner's places were not searched
    } cases[] = {
        {"found in the owner's TEMP", NONE, A_FILE, NONE, 0, "Owner", "command read from " + ownerFile},
        {"today's path first", A_FILE, A_FILE, NONE, 0, "Today", ""},
        {"outside the owner's places", NONE, NONE, A_FILE, 0, javaw, notFound},
        {"a directory in place of the file", A_DIRECTORY, NONE, NONE, 0, javaw, notFound},
        {"a named pipe in place of the file", A_FIFO, NONE, NONE, 0, javaw, notFound},
        {"big files within the budget first", A_BIG_FILE, A_FILE, NONE, fittingPads, "Owner",
         "command read from " + ownerFile},
        {"the owner's file past the budget", A_BIG_FILE, A_FILE, NONE, fittingPads + 1, javaw,
         "search for process " + testkit::NarrowAnsi(id) + " stopped before " + ownerFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clear();
        const std::pair<Entry, std::wstring> entries[] = {{c.today, today}, {c.owner, owner}, {c.elsewhere, elsewhere}};
        for (const auto& entry : entries) {
            if (entry.first == NONE)
                continue;
            ASSERT_TRUE(CreateDirectoryW(entry.second.c_str(), nullptr));
            if (entry.first == A_DIRECTORY) {
                ASSERT_TRUE(CreateDirectoryW((entry.second + L"\\" + id).c_str(), nullptr));
            }
            if (entry.first == A_FIFO && !RunUnixTool(L"mkfifo", entry.second, id)) {
                clear();
                GTEST_SKIP() << "no named pipe can be made here (only Wine starts the Unix mkfifo)";
            }
            if (entry.first == A_FILE) {
                std::string name = entry.second == today ? "Today" : entry.second == owner ? "Owner" : "Planted";
                testkit::WriteBytes(entry.second + L"\\" + id, "sun.rt.javaCommand\0"s + name + "\0"s);
                MakeOld(entry.second + L"\\" + id);
            }
            if (entry.first == A_BIG_FILE)
                WriteSparse(entry.second + L"\\" + id, PERF_DATA_MAX_BYTES);
        }
        for (int k = 0; k < c.pads; ++k) {
            ASSERT_TRUE(CreateDirectoryW(pads[k].c_str(), nullptr));
            WriteSparse(pads[k] + L"\\" + id, PERF_DATA_MAX_BYTES);
        }
        DeleteFileW((rig.dir / L"taskroll.log").c_str());
        rig.Run(L"/debuglog");
        if (c.today == A_FIFO) {
            EXPECT_TRUE(RunUnixTool(L"rm", today, id));
        }
        std::string listing = rig.Read(L"processes.dat");
        EXPECT_NE(listing.find(c.first + "\t\tunknown_description$\r\n"), std::string::npos) << testkit::Escape(listing);
        EXPECT_EQ(listing.find("Planted"), std::string::npos);
        std::string log = rig.Read(L"taskroll.log");
        EXPECT_EQ(log.find(c.logged.empty() ? "Java processing: " : c.logged) != std::string::npos, !c.logged.empty())
            << testkit::Escape(log);
    }
    clear();
}
