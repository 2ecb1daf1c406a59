// Version strings read from the fixture programs' crafted resources, with the
// lines each call adds to the debug log (this test program keeps one beside
// itself for the whole run).
#include "bench.h"
#include "debuglog.h"
#include "settings.h"
#include "versioninfo.h"

#include <algorithm>
#include <cstring>
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
    return bench::Normalized(added);
}

std::string Extracted(const std::string& path, const std::string& name, const std::string& text)
{
    return bench::Trace("FormatString") + "T: Extracted file version from file '" + path + "' (section '" + name +
           "'): " + text + "\r\n";
}

const std::string DIGITS_259 = bench::Digits(259);

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
        SCOPED_TRACE(testkit::Narrow(c.fixture) + " " + c.name);
        const std::string path = testkit::Narrow(testkit::Sibling(c.fixture));
        const char* fallback = std::strcmp(c.name, "FileVersion") == 0 ? "unknown_version" : "unknown_description";
        char output[PATH_BUFFER_SIZE];
        std::memset(output, 'x', sizeof output);
        int result = GetVersionInfo(c.name, output, path.c_str(), fallback);
        EXPECT_EQ(result != 0, c.found);
        ASSERT_LT(strnlen(output, sizeof output), sizeof output);
        EXPECT_BYTES(c.output, output);
        std::string log = bench::Trace("GetVersionInfo");
        for (const std::string& text : c.extracted)
            log += Extracted(path, c.name, text);
        EXPECT_BYTES(log, NewLogLines());
    }
}

TEST(VersionInfo, NoResourceOrNoPath)
{
    const std::string path = testkit::Narrow(testkit::Sibling(L"waiter.exe"));
    char output[PATH_BUFFER_SIZE] = "untouched";
    NewLogLines();
    EXPECT_EQ(GetVersionInfo("FileDescription", output, nullptr, "unknown_description"), 0);
    EXPECT_BYTES("untouched", output);
    EXPECT_BYTES(bench::Trace("GetVersionInfo"), NewLogLines());
    EXPECT_EQ(GetVersionInfo("FileVersion", output, path.c_str(), "unknown_version"), 0);
    EXPECT_BYTES("unknown_version", output);
    EXPECT_BYTES(bench::Trace("GetVersionInfo") + "T: Failed to extract version information from file '" + path +
                     "' (section 'FileVersion')\r\n",
                 NewLogLines());
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
