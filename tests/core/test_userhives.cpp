// Which HKEY_USERS hives a run lists, for accounts and hive names that Wine cannot give: Wine runs every program
// as its one user and loads no other user's hive.
#include "userhives.h"

#include <gtest/gtest.h>

namespace {

TEST(UserHives, ServiceAccountsListEverySignedInUserInOrder)
{
    const std::vector<std::u16string> names = {
        u".DEFAULT", u"S-1-5-19", u"S-1-12-1-4-5-6-7", u"S-1-12-1-4-5-6-7_Classes", u"S-1-5-18", u"S-1-5-20",
        u"S-1-5-21-1-2-3-1001", u"S-1-5-21-1-2-3-1001_Classes", u"S-1-5-80-1-2-3-4-5", u"S-1-5-21-1-2-1001",
        u"S-1-5-21-1-2-3-", u"S-1-5-21-1--3-4", u"S-1-5-21-12345678901-2-3-4", u"S-1-5-21-1-2-3-4 ", u"S-1-5-21"};
    const std::vector<std::u16string> users = {u"S-1-12-1-4-5-6-7", u"S-1-5-21-1-2-3-1001"};
    const struct {
        std::u16string own;
        std::vector<std::u16string> expected;
    } accounts[] = {
        {u"S-1-5-18", users}, {u"S-1-5-19", users}, {u"S-1-5-20", users},
        {u"S-1-5-21-1-2-3-1001", {}}, {u"S-1-5-18-1", {}}, {u"", {}},
    };
    for (const auto& account : accounts) {
        SCOPED_TRACE(std::string(account.own.begin(), account.own.end()));
        EXPECT_EQ(SelectUserHives(account.own, names), account.expected);
    }
}

}  // namespace
