// Process records: fixture processes with crafted version resources are found
// in a real listing, and the record buffer's edge is checked in the unit.
#include "bench.h"
#include "listing.h"
#include "settings.h"

#include <cstring>

namespace {

// Every line is a record: not empty, and its only "$" is its last byte.
void ExpectOnlyRecords(const std::string& listing)
{
    for (const std::string& line : bench::Lines(listing)) {
        ASSERT_FALSE(line.empty()) << testkit::Escape(listing);
        EXPECT_EQ(line.find('$'), line.size() - 1) << testkit::Escape(line);
    }
}

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
        {L"fx_len259.exe", L"run", L"", "\t", bench::Digits(259)},
        {L"fx_len300.exe", L"run", L"", "\t", bench::Digits(259)},
        {L"fx_order1.exe", L"run", L"", "\t", "Deutsch"},
        {L"fx_order2.exe", L"run", L"", "\t", "English"},
        {L"fx_versiononly.exe", L"run", L"", "\t", "unknown_description"},
        {L"fx_notranslation.exe", L"run", L"", "\t", "unknown_description"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testkit::Narrow(c.fixture) + " " + testkit::Narrow(c.arguments));
        bench::Bench bench;
        ASSERT_TRUE(CreateDirectoryW((bench.dir / c.directory).c_str(), nullptr));
        const std::wstring fixture = bench.dir / (std::wstring(c.directory) + L"\\" + c.fixture);
        ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(c.fixture), fixture));
        std::string path = testkit::Narrow(fixture);
        for (char& byte : path)
            byte = byte == '$' ? 'S' : byte;
        std::string listing;
        {
            testkit::FixtureProcess running(fixture);
            bench.Run(c.arguments);
            listing = bench.Read(L"processes.dat");
        }
        ExpectOnlyRecords(listing);
        std::string d = c.delimiter;
        std::string expected = path + d + d + c.description + "$";
        int found = 0;
        for (const std::string& line : bench::Lines(listing)) {
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
    bench::Bench bench;
    const std::wstring before = bench.dir / L"before", after = bench.dir / L"after";
    ASSERT_TRUE(CreateDirectoryW(before.c_str(), nullptr));
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"waiter.exe"), before + L"\\waiter.exe"));
    testkit::FixtureProcess running(before + L"\\waiter.exe");
    if (!MoveFileW(before.c_str(), after.c_str()))
        GTEST_SKIP() << "the directory of a running program cannot be renamed here";
    bench.Run(L"/debuglog");
    std::string listing = bench.Read(L"processes.dat");
    ExpectOnlyRecords(listing);
    EXPECT_EQ(listing.find(testkit::Narrow(bench.dir.Path())), std::string::npos) << testkit::Escape(listing);
    std::string id = std::to_string(running.Id());
    EXPECT_TRUE(bench::InOrder(bench::Normalized(bench.Read(L"taskroll.log")),
                               {"GetProcessInfo started (Process ID = " + id + ")",
                                testkit::Narrow(before) + "\\waiter.exe: module not found",
                                "GetProcessInfo failed (Process ID = " + id + ", Error Code = 1)"}));
}

// A first field too long for the record buffer is cut so that the delimiters,
// the description, "$", the line end and the NUL still fit.
TEST(Listing, AssembleRecordCutsTheFirstField)
{
    const struct {
        std::size_t firstLength, descriptionLength;
        const char* delimiter;
        std::size_t kept;
    } cases[] = {
        {100, 19, "\t", 100},
        {32759, 4, "\t", 32759},
        {32760, 4, ",", 32759},
        {40000, 4, ";", 32759},
        {40000, 259, "\t", 32504},
        {32504, 259, "\t", 32504},
    };
    static char record[RECORD_BUFFER_SIZE];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstLength);
        std::strcpy(g_fieldDelimiter, c.delimiter);
        std::string first(c.firstLength, 'p'), description(c.descriptionLength, 'd');
        std::memset(record, 'x', sizeof record);
        AssembleRecord(record, first.c_str(), description.c_str());
        std::string d = c.delimiter;
        std::string expected = first.substr(0, c.kept) + d + d + description;
        EXPECT_EQ(std::strlen(record), expected.size());
        EXPECT_TRUE(record == expected);
        // "$", "\n" and the NUL are still to come.
        EXPECT_LE(std::strlen(record) + 3, RECORD_BUFFER_SIZE);
    }
    std::strcpy(g_fieldDelimiter, "\t");
}
