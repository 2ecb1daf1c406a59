// Version strings read from the fixture programs' crafted resources, with the
// lines each call adds to the debug log (this test program keeps one beside
// itself for the whole run).
#include "rig.h"
#include "debuglog.h"
#include "handles.h"
#include "settings.h"
#include "versioninfo.h"
#include "internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

const std::wstring LOG_PATH = testkit::Sibling(L"taskroll_versioninfo_tests.log");

class UnitLog : public ::testing::Environment {
public:
    void SetUp() override
    {
        DeleteFileW(LOG_PATH.c_str());
        InitLogFile();
        ASSERT_TRUE(IsLogOpen());
    }
    void TearDown() override { FreeLogFile(); }
};
const auto* const unitLog = ::testing::AddGlobalTestEnvironment(new UnitLog);

// What the log gained since the last call.
std::string NewLogLines()
{
    static std::size_t seen = 0;
    std::string log = testkit::ReadBytes(LOG_PATH);
    std::string added = log.substr(std::min(seen, log.size()));
    seen = log.size();
    return rig::Normalized(added);
}

std::string Extracted(const std::string& path, const std::string& name, const std::string& text)
{
    return rig::Trace("FormatString") + "T: Extracted file version from file '" + path + "' (section '" + name +
           "'): " + text + "\r\n";
}

const std::string DIGITS_259 = rig::Digits(259);

}  // namespace

// The last translation whose table holds a FileDescription decides, even when
// an earlier one had the requested string.
TEST(VersionInfo, StringSelection)
{
    const struct {
        const wchar_t* fixture;
        const char* name;
        bool found;
        std::string output;
        std::vector<std::string> extracted;  // texts of the extraction lines, in order
    } cases[] = {
        {L"fx_order1.exe", "FileDescription", true, "Deutsch", {"English", "Deutsch"}},
        {L"fx_order1.exe", "FileVersion", false, "unknown_version", {"1.2.3"}},
        {L"fx_order2.exe", "FileDescription", true, "English", {"Deutsch", "English"}},
        {L"fx_order2.exe", "FileVersion", true, "1.2.3", {"1.2.3"}},
        {L"fx_versiononly.exe", "FileVersion", false, "unknown_version", {}},
        {L"fx_notranslation.exe", "FileDescription", false, "unknown_description", {}},
        {L"fx_len259.exe", "FileDescription", true, DIGITS_259, {DIGITS_259}},
        {L"fx_len300.exe", "FileDescription", true, DIGITS_259, {DIGITS_259}},
        {L"fx_percent.exe", "FileDescription", true, "100% %s %d %n", {"100% %s %d %n"}},
    };
    NewLogLines();
    for (const auto& c : cases) {
        SCOPED_TRACE(testkit::NarrowAnsi(c.fixture) + " " + c.name);
        const std::string path = testkit::NarrowAnsi(testkit::Sibling(c.fixture));
        const char* fallback = std::strcmp(c.name, "FileVersion") == 0 ? "unknown_version" : "unknown_description";
        char output[PATH_BUFFER_SIZE];
        std::memset(output, 'x', sizeof output);
        VersionResource resource;
        ReadVersionResource(path.c_str(), &resource);
        EXPECT_FALSE(resource.damaged);
        NewLogLines();  // a file read before says so; only the string's own lines are compared
        int result = GetVersionInfo(c.name, output, path.c_str(), resource, fallback);
        EXPECT_EQ(result != 0, c.found);
        ASSERT_LT(strnlen(output, sizeof output), sizeof output);
        EXPECT_BYTES(c.output, output);
        std::string log = rig::Trace("GetVersionInfo");
        for (const std::string& text : c.extracted)
            log += Extracted(path, c.name, text);
        EXPECT_BYTES(log, NewLogLines());
    }
}

TEST(VersionInfo, NoResource)
{
    const std::string path = testkit::NarrowAnsi(testkit::Sibling(L"waiter.exe"));
    char output[PATH_BUFFER_SIZE] = "untouched";
    VersionResource resource;
    ReadVersionResource(path.c_str(), &resource);
    NewLogLines();
    EXPECT_EQ(GetVersionInfo("FileVersion", output, path.c_str(), resource, "unknown_version"), 0);
    EXPECT_BYTES("unknown_version", output);
    EXPECT_BYTES(rig::Trace("GetVersionInfo") + "T: Failed to extract version information from file '" + path +
                     "' (section 'FileVersion')\r\n",
                 NewLogLines());
}

// What a failing worker costs: the file it failed on is damaged and is not
// tried again in the run, the next file gets a new worker; without one (3
// starts tried) or past 8 time-outs files are not read. The stand-in
// worker fails by the file's name; its "swap" files try to put another
// folder in place of the checked file's folder before its resource is read.
TEST(VersionInfo, AFailingWorkerCostsOnlyItsFile)
{
    const VersionReaderBounds quick = {300, 600, 1000};
    UseVersionReader(testkit::Sibling(L"fx_faultyreader.exe").c_str(), &quick);
    testkit::TempDir dir;
    const struct {
        const wchar_t* name;
        bool damaged;
        unsigned starts;  // workers started for it: a stalled file is tried twice
        const char* description;
        const wchar_t* fixture = L"fx_order1.exe";
    } rows[] = {
        {L"intact.exe", false, 1, "Deutsch"},
        {L"crash.exe", true, 0, "unknown_description"},
        {L"stall.exe", true, 2, "unknown_description"},
        {L"nonsense.exe", true, 1, "unknown_description"},
        {L"crash.exe", true, 0, "unknown_description"},  // ended a worker before: not tried again
        {L"swap.exe", false, 1, "Deutsch"},
        {L"swapneutral.exe", false, 0, "Neutral", L"fx_neutral.exe"},  // read by the system, by its path
        {L"intact.exe", false, 0, "Deutsch"},
    };
    NewLogLines();
    for (const auto& row : rows) {
        const std::wstring folder = dir / (std::wstring(row.name) + L".d");
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::string path = testkit::NarrowAnsi(folder + L"\\" + row.name);
        // Written again, it would be another file.
        if (!testkit::FileExists(testkit::WidenAnsi(path)))
            testkit::WriteBytes(testkit::WidenAnsi(path), testkit::ReadBytes(testkit::Sibling(row.fixture)));
        SCOPED_TRACE(path);
        const unsigned starts = VersionReaderStarts();
        VersionResource resource;
        ReadVersionResource(path.c_str(), &resource);
        char description[PATH_BUFFER_SIZE];
        GetVersionInfo("FileDescription", description, path.c_str(), resource, "unknown_description");
        EXPECT_EQ(resource.damaged, row.damaged);
        EXPECT_BYTES(row.description, description);
        EXPECT_EQ(VersionReaderStarts() - starts, row.starts);
        const std::string log = NewLogLines();
        if (row.damaged) {
            EXPECT_NE(log.find("Damaged version resource in file '" + path + "'"), std::string::npos) << log;
        }
    }
    // A resource read on the checked handle is that file's, whatever took its
    // folder's place; a folder held for the system's read by path cannot be
    // swapped (Windows and Wine refuse to rename a directory held open
    // without delete sharing).
    EXPECT_FALSE(testkit::FileExists(dir / L"swapneutral.exe.d.old"));
    const std::string order1 = testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe"));

    const char* const noStart = "The version reader process cannot be started (error 3); file '%s' is not read";
    const char* const stalled = "The version reader process took longer than 600 ms on file '%s'";
    const struct {
        const wchar_t* name;
        const char* line;  // %s: the file's path; null: no line of the reader
    } after[] = {{L"a.exe", noStart}, {L"b.exe", noStart}, {L"c.exe", noStart},
                 {L"d.exe", "File '%s' is not read: no version reader process can be started"},
                 {L"stall1.exe", stalled}, {L"stall2.exe", stalled}, {L"stall3.exe", stalled},
                 {L"stall4.exe", stalled}, {L"e.exe", "The version reader process ran out of time 8 times"},
                 {L"f.exe", nullptr}};
    UseVersionReader(L"C:\\no-such-folder\\no-such-reader.exe", nullptr);
    for (std::size_t i = 0; i < std::size(after); ++i) {
        if (i == 4)
            UseVersionReader(testkit::Sibling(L"fx_faultyreader.exe").c_str(), nullptr);
        const std::string path = testkit::NarrowAnsi(dir / after[i].name);
        testkit::WriteBytes(testkit::WidenAnsi(path), order1);
        VersionResource resource;
        ReadVersionResource(path.c_str(), &resource);
        char description[PATH_BUFFER_SIZE];
        GetVersionInfo("FileDescription", description, path.c_str(), resource, "unknown_description");
        EXPECT_BYTES("unknown_description", description);
        std::string line = after[i].line != nullptr ? after[i].line : "version reader";
        if (line.find("%s") != std::string::npos)
            line.replace(line.find("%s"), 2, path);
        EXPECT_EQ(NewLogLines().find(line) != std::string::npos, after[i].line != nullptr) << line;
    }
    StopVersionReader();
    UseVersionReader(testkit::Sibling(L"TaskRoll.exe").c_str(), &VERSION_READER_BOUNDS);
}

// Files told ahead go to the worker before their records ask for them; a
// worker that fails on one of them costs only that file: those told after it
// go to the next worker, a file told ahead and never asked for is passed
// over, and every record gets its own answer.
TEST(VersionInfo, FilesToldAheadOutliveAFailingWorker)
{
    const VersionReaderBounds quick = {300, 600, 1000};
    UseVersionReader(testkit::Sibling(L"fx_faultyreader.exe").c_str(), &quick);
    testkit::TempDir dir;
    const std::string order1 = testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe"));
    const struct {
        const wchar_t* name;
        bool asked;  // false: told ahead only, as for a process that ended before its record
        const char* description;
        const wchar_t* fixture = L"fx_order1.exe";
    } rows[] = {
        {L"ahead1.exe", true, "Deutsch"},  {L"crash.exe", true, "unknown_description"},
        {L"ahead2.exe", true, "Deutsch"},  {L"gone.exe", false, nullptr},
        {L"stall.exe", true, "unknown_description"}, {L"ahead3.exe", true, "Deutsch"},
        {L"ahead1.exe", true, "Deutsch"},
    };
    std::vector<std::string> paths;
    for (const auto& row : rows) {
        paths.push_back(testkit::NarrowAnsi(dir / row.name));
        testkit::WriteBytes(testkit::WidenAnsi(paths.back()), order1);
        ExpectModuleFile(paths.back().c_str(), nullptr);
    }
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        if (!rows[i].asked)
            continue;
        SCOPED_TRACE(paths[i]);
        VersionResource resource;
        ReadVersionResource(paths[i].c_str(), &resource);
        char description[PATH_BUFFER_SIZE];
        GetVersionInfo("FileDescription", description, paths[i].c_str(), resource, "unknown_description");
        EXPECT_BYTES(rows[i].description, description);
    }
    StopVersionReader();
    UseVersionReader(testkit::Sibling(L"TaskRoll.exe").c_str(), &VERSION_READER_BOUNDS);
}

// A pipe name that someone holds first is replaced by another, logged, and a worker still reads the file.
// (Wine enforces neither the pipe's access list nor its refusal of remote clients: those are not shown.)
TEST(VersionInfo, ATakenPipeNameIsReplaced)
{
    static std::vector<std::wstring> seen;
    static handles::FileHandle taken;  // the first name, held as another process would hold it
    seen.clear();
    WatchVersionReaderPipeNames([](const wchar_t* name, void*) {
        seen.push_back(name);
        if (seen.size() == 1)
            taken.Reset(CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr));
    }, nullptr);
    StopVersionReader();
    testkit::TempDir dir;
    const std::string path = testkit::NarrowAnsi(dir / L"piped.exe");
    testkit::WriteBytes(dir / L"piped.exe", testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe")));
    NewLogLines();
    VersionResource resource;
    ReadVersionResource(path.c_str(), &resource);
    WatchVersionReaderPipeNames(nullptr, nullptr);
    EXPECT_EQ(resource.state, VERSION_READ);
    ASSERT_TRUE(taken && seen.size() == 2);
    const std::wregex random(L"\\\\\\\\\\.\\\\pipe\\\\taskroll-versionreader-[0-9a-f]{32}");
    EXPECT_TRUE(std::regex_match(seen[0], random) && std::regex_match(seen[1], random) && seen[0] != seen[1]);
    EXPECT_NE(NewLogLines().find("The version reader's pipe '" + testkit::NarrowAnsi(seen[0]) +
                                 "' is held by another process (a possible attack); another name is taken"),
              std::string::npos);
}

// The worker's token keeps none of its parent's privileges but
// SeChangeNotifyPrivilege. Wine deletes a restricted token's privileges but
// keeps no integrity level of a token's own and no desktop apart: the
// worker's Low level and its job's desktop limits are not shown here.
TEST(VersionInfo, TheWorkerHoldsNoPrivilegeItDoesNotNeed)
{
    StopVersionReader();
    // A file of its own: one this run has read before is answered without a worker.
    testkit::TempDir dir;
    testkit::WriteBytes(dir / L"token.exe", testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe")));
    VersionResource resource;
    ReadVersionResource(testkit::NarrowAnsi(dir / L"token.exe").c_str(), &resource);
    std::vector<DWORD> ids;
    ASSERT_TRUE(EnumerateProcessIds(&ids, 1024));
    const auto worker = std::find_if(ids.begin(), ids.end(), IsVersionReaderProcess);
    ASSERT_NE(worker, ids.end());
    handles::ProcessHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, *worker));
    HANDLE token = nullptr;
    ASSERT_TRUE(process && OpenProcessToken(process.Get(), TOKEN_QUERY, &token));
    handles::TokenHandle owned(token);
    std::vector<unsigned char> bytes(4096);
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, bytes.data(), 4096, &size));
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(bytes.data());
    LUID traverse = {};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeChangeNotifyPrivilege", &traverse));
    for (DWORD i = 0; i < held->PrivilegeCount; ++i)
        EXPECT_TRUE(std::memcmp(&held->Privileges[i].Luid, &traverse, sizeof traverse) == 0) << i;
}

// A language-neutral module (it has a resource configuration) is checked
// with every language file beside it, <folder>\<language>\<name>.mui: on
// Windows the system may read one of those instead. Wine reads only the
// module itself, so an intact language file shows the module's strings here;
// a damaged one, or one that someone holds open for writing, makes the
// module damaged either way. Wine lets a folder above an open file be renamed
// (NTFS does not), so the folders' release shows here as a rename.
TEST(VersionInfo, LanguageFilesAreChecked)
{
    testkit::TempDir dir;
    const std::string neutral = testkit::ReadBytes(testkit::Sibling(L"fx_neutral.exe"));
    const std::string intact = testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe"));
    const std::string damaged = testkit::ReadBytes(testkit::Sibling(L"offset_off_unit.exe"));
    const struct {
        const std::string* languageFile;  // null: none
        bool heldForWriting;
        bool damaged;
    } rows[] = {{nullptr, false, false}, {&intact, false, false}, {&damaged, false, true}, {&intact, true, true}};
    int row = 0;
    for (const auto& r : rows) {
        const std::wstring folder = dir / std::to_wstring(++row);
        CreateDirectoryW(folder.c_str(), nullptr);
        testkit::WriteBytes(folder + L"\\neutral.exe", neutral);
        handles::FileHandle writer;
        if (r.languageFile != nullptr) {
            CreateDirectoryW((folder + L"\\en-US").c_str(), nullptr);
            const std::wstring mui = folder + L"\\en-US\\neutral.exe.mui";
            testkit::WriteBytes(mui, *r.languageFile);
            if (r.heldForWriting)
                writer.Reset(CreateFileW(mui.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
        }
        const std::string path = testkit::NarrowAnsi(folder + L"\\neutral.exe");
        SCOPED_TRACE(path);
        VersionResource resource;
        ReadVersionResource(path.c_str(), &resource);
        char description[PATH_BUFFER_SIZE];
        GetVersionInfo("FileDescription", description, path.c_str(), resource, "unknown_description");
        EXPECT_EQ(resource.damaged, r.damaged);
        EXPECT_BYTES(r.damaged ? "unknown_description" : "Neutral", description);
        EXPECT_EQ(NewLogLines().find("Damaged version resource in file '" + path + "'") != std::string::npos,
                  r.damaged);
        // Its folders were held only while it was read: they can go now.
        writer.Reset();
        EXPECT_TRUE(MoveFileW(folder.c_str(), (folder + L"-moved").c_str())) << GetLastError();
    }
}

// One file is read once in a run, however it is named: by another spelling
// of its path or through a hard link its earlier strings are used again, and
// the log says so. (A file written since is another file: the native rows.)
// Wine gives every file a 128-bit id (its 64-bit index in the lower half) and
// has no network or removable drive to offer: the 64-bit fallback and the
// volumes where nothing is remembered are the native rows too.
TEST(VersionInfo, AFileIsReadOncePerRun)
{
    rig::Rig rig;
    const std::wstring file = rig.dir / L"Once.exe";
    const std::string order1 = testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe"));
    testkit::WriteBytes(file, order1);
    ASSERT_TRUE(CreateHardLinkW((rig.dir / L"link.exe").c_str(), file.c_str(), nullptr));
    const std::string path = testkit::NarrowAnsi(file);
    const std::string names[] = {path, testkit::NarrowAnsi(rig.dir / L"ONCE.EXE"), "Once.exe",
                                 testkit::NarrowAnsi(rig.dir / L"link.exe")};
    std::string list, expected;
    for (const std::string& name : names) {
        list += name + "\r\n";
        expected += name + "\t\tDeutsch$\r\n";
    }
    testkit::WriteBytes(rig.dir / L"list.txt", list);
    rig.Run(L"/debuglog /file:list.txt");
    EXPECT_BYTES(expected, rig.Read(L"processes.dat"));
    std::string log = rig.Read(L"taskroll.log");
    std::size_t reused = 0;
    for (std::size_t at = log.find("it is used again"); at != std::string::npos; at = log.find("it is used again", at + 1))
        ++reused;
    EXPECT_EQ(reused, std::size(names) - 1) << log;
}

// A version.dll beside TaskRoll.exe never runs, in TaskRoll or its worker. Wine prefers its own unless its
// setting for the program says otherwise, as Windows does: that setting is why this runs only in the test prefix.
TEST(VersionInfo, APlantedVersionDllNeverRuns)
{
    SKIP_UNLESS_PRIVATE_TEST_PREFIX();
    const std::wstring app = L"Software\\Wine\\AppDefaults\\TaskRoll.exe";
    const std::wstring overrides = app + L"\\DllOverrides";
    const std::string native = testkit::Utf16Bytes(L"native,builtin") + std::string(2, '\0');
    ASSERT_EQ(childkit::PutKey(HKEY_CURRENT_USER, overrides, KEY_WOW64_64KEY, L"version", REG_SZ, &native), 0);
    rig::Rig rig;
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"fx_planted.dll"), rig.dir / L"version.dll"));
    testkit::WriteBytes(rig.dir / L"list.txt", testkit::NarrowAnsi(testkit::Sibling(L"fx_order1.exe")) + "\r\n");
    rig.Run(L"/file:list.txt");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), L"version");
    childkit::RemoveKeyIfEmpty(HKEY_CURRENT_USER, overrides, KEY_WOW64_64KEY, true);
    childkit::RemoveKeyIfEmpty(HKEY_CURRENT_USER, app, KEY_WOW64_64KEY, true);
    EXPECT_FALSE(testkit::FileExists(rig.dir / L"planted.ran"));
    EXPECT_NE(rig.Read(L"processes.dat").find("\t\tDeutsch$\r\n"), std::string::npos);
}

// The system's own programs and libraries, in both of its directories, all
// pass the check: none loses its description to it. (tasklist.exe is left
// out: it is the other process lister of the system.)
TEST(VersionInfo, SystemFilesPassTheCheck)
{
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    std::string list;
    std::size_t files = 0;
    for (const wchar_t* folder : {L"\\system32\\", L"\\syswow64\\"}) {
        for (const wchar_t* pattern : {L"*.exe", L"*.dll"}) {
            const std::wstring directory = windows + std::wstring(folder);
            handles::NativeViewScope native;  // System32 as TaskRoll reads it, in both builds
            WIN32_FIND_DATAW found;
            HANDLE search = FindFirstFileW((directory + pattern).c_str(), &found);
            for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found) != 0) {
                if (_wcsicmp(found.cFileName, L"tasklist.exe") == 0 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    continue;
                list += testkit::NarrowAnsi(directory + found.cFileName) + "\r\n";
                ++files;
            }
            if (search != INVALID_HANDLE_VALUE)
                FindClose(search);
        }
    }
    ASSERT_GT(files, 100u);
    rig::Rig rig;
    testkit::WriteBytes(rig.dir / L"list.txt", list);
    rig.Run(L"/debuglog /file:list.txt");
    EXPECT_EQ(rig::Lines(rig.Read(L"processes.dat")).size(), files);
    const std::string log = rig.Read(L"taskroll.log");
    const std::size_t damaged = log.find("Damaged version resource");
    EXPECT_EQ(damaged, std::string::npos) << log.substr(damaged == std::string::npos ? 0 : damaged, 200);
}

TEST(VersionInfo, FormatStringCutsAtSizeMinusOne)
{
    const struct {
        std::string text;
        int returned;
    } cases[] = {
        {DIGITS_259.substr(0, 258), 258},
        {DIGITS_259, 259},
        {DIGITS_259 + "9", 259},
        {std::string(300, 'z'), 259},
        {"%s%n%d", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        char buffer[PATH_BUFFER_SIZE + 1];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(FormatString(buffer, PATH_BUFFER_SIZE, "%s", c.text.c_str()), c.returned);
        ASSERT_LT(strnlen(buffer, sizeof buffer), sizeof buffer);
        EXPECT_BYTES(c.text.substr(0, 259), buffer);
        EXPECT_EQ(buffer[PATH_BUFFER_SIZE], 'x');
    }
}

namespace {

// A node of an intact UTF-16 version resource, as offsets into the resource.
struct ResourceNode {
    std::size_t start, end, room;  // room: what its parent leaves it, from its start
    std::size_t keyNul, value, valueNul;  // valueNul: the first NUL unit of a text value, or 0
    bool text;
};

std::size_t Align4(std::size_t offset)
{
    return (offset + 3) & ~std::size_t{3};
}

unsigned Word16(const std::string& bytes, std::size_t at)
{
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

void PutWord16(std::string& bytes, std::size_t at, unsigned value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8 & 0xFF);
}

void WalkResource(const std::string& res, std::size_t start, std::size_t parentEnd, std::vector<ResourceNode>* nodes)
{
    for (; start + 6 <= parentEnd && Word16(res, start) != 0; start = Align4(start + Word16(res, start))) {
        ResourceNode node{start, start + Word16(res, start), parentEnd - start, start + 6, 0, 0,
                          Word16(res, start + 4) == 1};
        while (Word16(res, node.keyNul) != 0)
            node.keyNul += 2;
        node.value = Align4(node.keyNul + 2);
        std::size_t valueEnd = node.value + Word16(res, start + 2) * (node.text ? 2 : 1);
        for (std::size_t at = node.value; node.text && node.valueNul == 0 && at < valueEnd; at += 2)
            node.valueNul = Word16(res, at) == 0 ? at : 0;
        nodes->push_back(node);
        WalkResource(res, Align4(valueEnd), node.end, nodes);
    }
}

// What a record may show of a file's resource bytes: its UTF-16 text in the
// ANSI code page and, for a resource read in the old 8-bit layout, its raw
// bytes, both with the record's own replacements made.
std::vector<std::string> TextsHeldBy(const std::string& res)
{
    std::wstring wide;
    for (std::size_t at = 0; at + 1 < res.size(); at += 2)
        wide += static_cast<wchar_t>(Word16(res, at));
    std::vector<std::string> texts = {testkit::NarrowAnsi(wide), res};
    for (std::string& text : texts)
        for (char& c : text)
            c = c == '$' ? 'S' : c == '\r' || c == '\n' ? ' ' : c;
    return texts;
}

}  // namespace

// Damaged version resources listed in one run: a length that overstates its
// room, a missing terminator or a flipped type word must not make TaskRoll
// read past the block, put bytes into a record that the file does not hold,
// or crash and so leave the whole listing empty.
TEST(VersionInfo, DamagedResourcesAreReadSafely)
{
    const std::string original = testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe"));
    const std::size_t base = original.find(testkit::Utf16Bytes(L"VS_VERSION_INFO")) - 6;
    ASSERT_LT(base, original.size());
    const std::string intact = original.substr(base, Word16(original, base));
    std::vector<ResourceNode> nodes;
    WalkResource(intact, 0, intact.size(), &nodes);
    ASSERT_EQ(nodes.size(), 9u);  // root, StringFileInfo, 2 tables, 3 strings, VarFileInfo, Translation
    const ResourceNode& translation = nodes[8];
    const ResourceNode& deutsch = nodes[6];  // the FileDescription of the last translation

    std::mt19937 rng(20240611);
    const auto hostile = [&](std::size_t room) {
        const unsigned values[] = {0, 1, 5, static_cast<unsigned>(room + 1), 0xFFFF, rng() & 0xFFFF};
        return values[rng() % 6] & 0xFFFF;
    };
    // Each named case still holds an intact FileDescription, which must be read
    // as it stands; the damage must be logged.
    const struct {
        const char* what;
        std::size_t at;
        unsigned word;
        std::string description;
    } named[] = {
        {"Translation value of 0xFFFF bytes", translation.start + 2, 0xFFFF, "Deutsch"},
        {"root length 0xFFFF", 0, 0xFFFF, "Deutsch"},
        {"root length 8 bytes over the resource", 0, static_cast<unsigned>(intact.size() + 8), "Deutsch"},
        {"FileDescription without its NUL", deutsch.valueNul, 'X', "DeutschX"},
    };
    const std::size_t COPIES = 300;
    std::vector<std::string> resources, mutations, paths;
    rig::Rig rig;
    std::string list;
    for (std::size_t i = 0; i < COPIES; ++i) {
        std::string res = intact, what;
        if (i < std::size(named)) {
            PutWord16(res, named[i].at, named[i].word);
            what = named[i].what;
        }
        for (std::size_t n = i < std::size(named) ? 0 : 1 + rng() % 3; n > 0; --n) {
            const ResourceNode& node = nodes[rng() % nodes.size()];
            const unsigned unit = 1 + rng() % 0xFFFF;  // anything but a NUL
            std::size_t at = node.start;
            switch (rng() % 6) {
            case 0:
                PutWord16(res, at, hostile(node.room));
                what += " wLength";
                break;
            case 1:
                PutWord16(res, at += 2, hostile((node.end - node.value) / (node.text ? 2 : 1)));
                what += " wValueLength";
                break;
            case 2:
                PutWord16(res, at = node.keyNul, unit);
                what += " key NUL";
                break;
            case 3:
                PutWord16(res, at = node.valueNul ? node.valueNul : node.keyNul, unit);
                what += " value NUL";
                break;
            case 4:
                res[at = rng() % res.size()] = static_cast<char>(rng());
                what += " byte";
                break;
            default:
                at += 4;
                PutWord16(res, at, rng() % 3 ? Word16(res, at) ^ 1 : rng() & 0xFFFF);
                what += " wType";
            }
            what += "@" + std::to_string(at) + "=" + std::to_string(Word16(res, at & ~std::size_t{1}));
        }
        std::string copy = original;
        copy.replace(base, res.size(), res);
        const std::wstring path = rig.dir / (L"dmg" + std::to_wstring(i) + L".exe");
        testkit::WriteBytes(path, copy);
        paths.push_back(testkit::NarrowAnsi(path));
        resources.push_back(res);
        mutations.push_back(what);
        list += paths.back() + "\r\n";
    }
    testkit::WriteBytes(rig.dir / L"list.txt", list);
    rig.Run(L"/debuglog /file:list.txt");

    const std::string output = rig.Read(L"processes.dat");
    const std::vector<std::string> records = rig::Lines(output);
    ASSERT_EQ(records.size(), COPIES);
    ASSERT_TRUE(rig::EndsWith(output, "\r\n"));
    const std::string log = rig.Read(L"taskroll.log");
    for (std::size_t i = 0; i < COPIES; ++i) {
        SCOPED_TRACE(paths[i] + ":" + mutations[i]);
        const std::string& record = records[i];
        const std::string head = paths[i] + "\t\t";
        ASSERT_EQ(record.compare(0, head.size(), head), 0) << testkit::Escape(record);
        ASSERT_TRUE(record.back() == '$' && record.find_first_of("$\r\n") == record.size() - 1)
            << testkit::Escape(record);
        const std::string description = record.substr(head.size(), record.size() - 1 - head.size());
        EXPECT_LE(description.size(), 259u);
        const std::vector<std::string> texts = TextsHeldBy(resources[i]);
        EXPECT_TRUE(description == "unknown_description" ||
                    std::any_of(texts.begin(), texts.end(),
                                [&](const std::string& text) { return text.find(description) != std::string::npos; }))
            << testkit::Escape(description);
        if (i < std::size(named)) {
            EXPECT_BYTES(named[i].description, description);
            const std::string damaged = "Damaged version resource in file '" + paths[i] + "': only its intact parts";
            EXPECT_NE(log.find(damaged), std::string::npos) << "no line \"" << damaged << "\" in the log";
        }
    }
}

namespace {

std::uint32_t Dword32(const std::string& bytes, std::size_t at)
{
    return Word16(bytes, at) | Word16(bytes, at + 2) << 16;
}

void PutDword32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    PutWord16(bytes, at, value & 0xFFFF);
    PutWord16(bytes, at + 2, value >> 16);
}

// File offsets of the way to a PE fixture's version resource: the resource
// data directory and, at each level of the tree, the entry that is followed;
// the headers that lay out the image (rootSection: the header of the section
// holding the tree); and the seeded generator that crafted layouts draw from.
struct ResourceWay {
    std::size_t directory, nameEntry, languageEntry, dataEntry, optional, sections, table, rootSection;
    std::mt19937* rng;
};

ResourceWay FindWay(const std::string& file)
{
    const std::size_t pe = Dword32(file, 0x3C);
    ResourceWay way;
    way.optional = pe + 24;
    way.sections = Word16(file, pe + 6);
    way.table = way.optional + Word16(file, pe + 20);
    way.directory = pe + 24 + (Word16(file, pe + 24) == 0x10B ? 112 : 128);
    const std::uint32_t rva = Dword32(file, way.directory);
    std::size_t root = 0;
    for (std::size_t s = way.table; root == 0; s += 40) {
        if (rva >= Dword32(file, s + 12) && rva - Dword32(file, s + 12) < Dword32(file, s + 16))
            root = Dword32(file, (way.rootSection = s) + 20) + rva - Dword32(file, s + 12);
    }
    const auto entry = [&](std::size_t directory, unsigned id) {  // id 0: the first entry
        std::size_t at = root + directory + 16;
        while (id != 0 && Word16(file, at) != id)
            at += 8;
        return at;
    };
    const std::size_t type = entry(0, 16);
    way.nameEntry = entry(Dword32(file, type + 4) & 0x7FFFFFFF, 1);
    way.languageEntry = entry(Dword32(file, way.nameEntry + 4) & 0x7FFFFFFF, 0);
    way.dataEntry = root + Dword32(file, way.languageEntry + 4);
    return way;
}

// Appends `bytes` at the next multiple of 0x200 plus `skew`; returns where.
std::uint32_t AppendAt(std::string& file, const std::string& bytes, std::size_t skew = 0)
{
    file.resize(((file.size() + 0x1FF) & ~std::size_t{0x1FF}) + skew, '\0');
    file += bytes;
    return static_cast<std::uint32_t>(file.size() - bytes.size());
}

std::string RawOfRoot(const std::string& f, const ResourceWay& w)
{
    return f.substr(Dword32(f, w.rootSection + 20), Dword32(f, w.rootSection + 16));
}

// The resource section's raw data moved to 0x1F0 to 0x1FC bytes past a
// multiple of 0x200, the loader's rounded-down offset holding the same tree
// (a valid tree the check never read) or noise.
void MoveOffTheUnit(std::string& file, const ResourceWay& way, bool treeBelow)
{
    std::string below = RawOfRoot(file, way);
    for (char& c : below)
        c = treeBelow ? c : static_cast<char>((*way.rng)());  // noise
    const std::size_t skew = 0x1F0 + 4 * ((*way.rng)() % 4);
    below.resize(skew);
    PutDword32(file, way.rootSection + 20, AppendAt(file, below + RawOfRoot(file, way)) + skew);
}

// A section after the last one (the headers have room for one), `raw` behind the file.
void AddSection(std::string& file, const ResourceWay& way, std::uint32_t va, std::uint32_t size, const std::string& raw)
{
    const std::size_t header = way.table + 40 * way.sections;
    const std::uint32_t fields[] = {size, va, static_cast<std::uint32_t>(raw.size()), AppendAt(file, raw)};
    for (std::size_t i = 0; i < 4; ++i)
        PutDword32(file, header + 8 + 4 * i, fields[i]);
    PutDword32(file, header + 36, 0x40000040);  // initialised data, readable
    PutWord16(file, way.optional - 18, static_cast<unsigned>(way.sections + 1));
}

// A new resource tree at the end of the image: 63 type entries of version
// lead to one name of 1024 languages, whose data entries lie 4 KiB apart and
// each give the fixture's version resource.
void AddWideTree(std::string& file, const ResourceWay& way)
{
    const std::uint32_t va = Dword32(file, way.optional + 56), names = 16 + 8 * 63, languages = names + 24;
    const std::uint32_t entries = 0x3000, data = entries + 0x1000 * 1024;
    std::string tree(data, '\0');
    tree += file.substr(Dword32(file, way.dataEntry) - Dword32(file, way.rootSection + 12) +
                            Dword32(file, way.rootSection + 20), Dword32(file, way.dataEntry + 4));
    PutWord16(tree, 14, 63);
    for (std::uint32_t i = 0; i < 63; ++i)
        PutDword32(tree, 16 + 8 * i, 16), PutDword32(tree, 20 + 8 * i, 0x80000000u | names);
    PutWord16(tree, names + 14, 1);
    PutDword32(tree, names + 16, 1), PutDword32(tree, names + 20, 0x80000000u | languages);
    PutWord16(tree, languages + 14, 1024);
    for (std::uint32_t i = 0, at = entries; i < 1024; ++i, at += 0x1000) {
        PutDword32(tree, languages + 16 + 8 * i, (*way.rng)() & 0xFFFF), PutDword32(tree, languages + 20 + 8 * i, at);
        PutDword32(tree, at, va + data), PutDword32(tree, at + 4, Dword32(file, way.dataEntry + 4));
    }
    AddSection(file, way, va, static_cast<std::uint32_t>(tree.size()), tree);
    PutDword32(file, way.directory, va);
    PutDword32(file, way.optional + 56, (va + static_cast<std::uint32_t>(tree.size()) + 0xFFF) & ~0xFFFu);
}

}  // namespace

// Files whose headers or resource directory point outside themselves, in both
// layouts that the system's version functions read (PE32 or PE32+ as this
// build is, and 16-bit NE), listed and, where they can run, running: the run
// ends normally, each damaged file is described by the default and logged,
// and the intact files beside them keep their descriptions. (A 16-bit program
// cannot run here, nor can an image the loader cannot map: only listed.)
TEST(VersionInfo, DamagedModuleHeadersAreNotGivenToTheSystem)
{
    // ne16.exe: resource table at 0x80 (shift), type block at 0x82, its one name entry at 0x8A.
    const struct {
        const char* what;
        bool ne;
        void (*damage)(std::string& file, const ResourceWay& way);
        bool runs = true;
    } rows[] = {
        {"data entry size 0x10000, past the file", false,
         [](std::string& f, const ResourceWay& w) { PutDword32(f, w.dataEntry + 4, 0x10000); }},
        {"data entry size 0x70000000", false,
         [](std::string& f, const ResourceWay& w) { PutDword32(f, w.dataEntry + 4, 0x70000000); }},
        {"language entry 0xFFFF bytes further, outside the file", false,
         [](std::string& f, const ResourceWay& w) {
             PutDword32(f, w.languageEntry + 4, Dword32(f, w.languageEntry + 4) + 0xFFFF);
         }},
        {"resource directory in no section", false,
         [](std::string& f, const ResourceWay& w) { PutDword32(f, w.directory, 0x7FFF0000); }},
        {"name level that loops back to the root", false,
         [](std::string& f, const ResourceWay& w) { PutDword32(f, w.nameEntry + 4, 0x80000000); }},
        {"header cut inside the optional header", false,
         [](std::string& f, const ResourceWay&) { f.resize(Dword32(f, 0x3C) + 60); }},
        {"resource section's offset off 0x200, noise at the offset rounded down", false,
         [](std::string& f, const ResourceWay& w) { MoveOffTheUnit(f, w, false); }},
        {"resource section's offset off 0x200, a valid tree at the offset rounded down", false,
         [](std::string& f, const ResourceWay& w) { MoveOffTheUnit(f, w, true); }},
        {"version resource in the raw tail past the virtual size", false, [](std::string& f, const ResourceWay& w) {
             PutDword32(f, w.rootSection + 8, Dword32(f, w.dataEntry) - Dword32(f, w.rootSection + 12) +
                                                  (*w.rng)() % Dword32(f, w.dataEntry + 4));
         }},
        {"a later section mapped over the resource section", false, [](std::string& f, const ResourceWay& w) {
             AddSection(f, w, Dword32(f, w.rootSection + 12), Dword32(f, w.rootSection + 8), RawOfRoot(f, w));
         }},
        {"section alignment below a page: the file mapped flat", false, [](std::string& f, const ResourceWay& w) {
             PutDword32(f, w.optional + 32, 0x200u << (*w.rng)() % 3), PutDword32(f, w.optional + 36, 0x200);
         }, false},
        {"virtual size and image size 0xFFFFF000", false, [](std::string& f, const ResourceWay& w) {
             PutDword32(f, w.table + 40 * (w.sections - 1) + 8, ~0xFFFu), PutDword32(f, w.optional + 56, ~0xFFFu);
         }, false},
        {"63 type entries of 1024 languages, data entries 4 KiB apart", false, AddWideTree},
        {"NE entry of length 0", true, [](std::string& f, const ResourceWay&) { PutWord16(f, 0x8C, 0); }},
        {"NE entry past the file", true, [](std::string& f, const ResourceWay&) { PutWord16(f, 0x8A, 0xFFF0); }},
        {"NE type count past the table", true, [](std::string& f, const ResourceWay&) { PutWord16(f, 0x84, 0x7FFF); }},
        {"NE alignment shift 0xFFFF", true, [](std::string& f, const ResourceWay&) { PutWord16(f, 0x80, 0xFFFF); }},
    };
    const std::string pe = testkit::ReadBytes(testkit::Sibling(L"fx_order1.exe"));
    const std::string ne = testkit::ReadBytes(testkit::Sibling(L"ne16.exe"));
    ASSERT_FALSE(pe.empty() || ne.empty());
    std::mt19937 rng(20240917);
    ResourceWay way = FindWay(pe);
    way.rng = &rng;
    rig::Rig rig;
    std::string list, expected, running;
    std::vector<std::wstring> runnable;
    for (std::size_t i = 0; i <= std::size(rows); ++i) {
        const bool intact = i == std::size(rows);
        for (bool layoutNe : {false, true}) {
            if (!intact && rows[i].ne != layoutNe)
                continue;
            std::string file = layoutNe ? ne : pe;
            if (!intact)
                rows[i].damage(file, way);
            const std::wstring path = rig.dir / (L"mod" + std::to_wstring(i) + (layoutNe ? L"ne.exe" : L".exe"));
            testkit::WriteBytes(path, file);
            const std::string line = testkit::NarrowAnsi(path) + "\t\t" +
                                     (intact ? (layoutNe ? "Sixteen-bit fixture" : "Deutsch") : "unknown_description") +
                                     "$\r\n";
            list += testkit::NarrowAnsi(path) + "\r\n";
            expected += line;
            if (!layoutNe && (intact || rows[i].runs) && file.size() >= pe.size()) {
                runnable.push_back(path);
                running += line;
            }
        }
    }
    testkit::WriteBytes(rig.dir / L"list.txt", list);
    rig.Run(L"/debuglog /file:list.txt");
    EXPECT_BYTES(expected, rig.Read(L"processes.dat"));
    const std::string log = rig.Read(L"taskroll.log");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string damaged = "Damaged version resource in file '" + testkit::NarrowAnsi(rig.dir.Path()) + "\\mod" +
                                    std::to_string(i) + (rows[i].ne ? "ne" : "") + ".exe'";
        EXPECT_NE(log.find(damaged), std::string::npos) << rows[i].what;
    }

    std::vector<std::unique_ptr<testkit::FixtureProcess>> processes;
    std::string leftOut;
    for (const std::wstring& path : runnable) {
        std::string why;
        processes.emplace_back(new testkit::FixtureProcess(path, &why));
        if (!why.empty())
            leftOut += why + "; ";
    }
    rig.Run(L"");
    const std::string listing = rig.Read(L"processes.dat");
    const std::vector<std::string> lines = rig::Lines(running);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (processes[i]->Ready())
            EXPECT_NE(listing.find(lines[i] + "\r\n"), std::string::npos)
                << lines[i] << "\nin:\n" << testkit::Escape(listing);
    }
    if (!leftOut.empty())
        GTEST_SKIP() << "left out of the listing: " << leftOut;
}
