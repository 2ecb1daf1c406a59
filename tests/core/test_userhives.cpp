// Which HKEY_USERS hives a run lists, for accounts and hive names that Wine cannot give: Wine runs every program
// as its one user and loads no other user's hive.
#include "userhives.h"

#include <gtest/gtest.h>

namespace {

TEST(UserHives, LocalSystemNamesEveryHiveItListsInOrder)
{
    const std::vector<std::u16string> names = {
        u".DEFAULT", u"S-1-5-19", u"S-1-12-1-4-5-6-7", u"S-1-12-1-4-5-6-7_Classes", u"S-1-5-18", u"S-1-5-20",
        u"S-1-5-21-1-2-3-1001", u"S-1-5-21-1-2-3-1001_Classes", u"S-1-5-80-1-2-3-4-5", u"S-1-5-21-1-2-1001",
        u"S-1-5-21-1-2-3-", u"S-1-5-21-1--3-4", u"S-1-5-21-12345678901-2-3-4", u"S-1-5-21-1-2-3-4 ", u"S-1-5-21"};
    const std::vector<HiveListing> own = {{HIVE_MACHINE, u"", u""}, {HIVE_CURRENT_USER, u"", u""}};
    const std::vector<HiveListing> system = {
        {HIVE_MACHINE, u"", u"HKEY_LOCAL_MACHINE"},
        {HIVE_CURRENT_USER, u"", u"HKEY_USERS\\S-1-5-18"},
        {HIVE_USERS, u"S-1-12-1-4-5-6-7", u"HKEY_USERS\\S-1-12-1-4-5-6-7"},
        {HIVE_USERS, u"S-1-5-21-1-2-3-1001", u"HKEY_USERS\\S-1-5-21-1-2-3-1001"}};
    const struct {
        std::u16string own;
        std::vector<HiveListing> expected;
    } accounts[] = {
        {u"S-1-5-18", system}, {u"S-1-5-19", own}, {u"S-1-5-20", own},
        {u"S-1-5-21-1-2-3-1001", own}, {u"S-1-5-18-1", own}, {u"", own},
    };
    for (const auto& account : accounts) {
        SCOPED_TRACE(std::string(account.own.begin(), account.own.end()));
        EXPECT_EQ(PlanHiveListings(account.own, names), account.expected);
    }
}

}  // namespace
