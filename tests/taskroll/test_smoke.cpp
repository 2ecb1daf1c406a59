#include "testkit.h"

TEST(Smoke, RunsAndListsFixture)
{
    testkit::TempDir dir;
    ASSERT_TRUE(testkit::CopyTo(testkit::Sibling(L"TaskRoll.exe"), dir / L"TaskRoll.exe"));
    testkit::FixtureProcess waiter(testkit::Sibling(L"waiter.exe"));
    auto run = testkit::RunTool(dir / L"TaskRoll.exe", L"", dir.Path());
    EXPECT_EQ(run.exitCode, 0u);
    std::string listing = testkit::ReadBytes(dir / L"processes.dat");
    EXPECT_NE(listing.find(testkit::Narrow(testkit::Sibling(L"waiter.exe")) + "\t\tunknown_description$\r\n"),
              std::string::npos) << testkit::Escape(listing);
}
