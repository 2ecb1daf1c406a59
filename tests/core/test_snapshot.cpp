// The snapshot rule over a scripted list, with facts a real registry cannot be made to give on demand: changes
// within one clock tick, a list that never settles, a list gone between two readings.
#include "snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Each name is one letter, so a reading is written as a string of them.
std::vector<std::u16string> Names(const std::u16string& letters)
{
    std::vector<std::u16string> names;
    for (char16_t letter : letters)
        names.emplace_back(1, letter);
    return names;
}

// Queried once before the first reading and once after each; a query past `states` fails. The last reading
// repeats; each gives no more names than the count it was asked for.
struct ScriptedList : NameListSource {
    std::vector<NameListState> states;
    std::vector<std::u16string> readings;
    std::size_t done = 0;
    bool QueryState(NameListState* state) override
    {
        return done < states.size() && (*state = states[done], true);
    }
    std::vector<std::u16string> ReadNames(std::uint32_t count) override
    {
        return Names(readings[std::min(++done, readings.size()) - 1].substr(0, count));
    }
};

TEST(Snapshot, ReadsUntilTwoReadingsAgree)
{
    const NameListState s = {3, 7};
    const struct {
        const char* what;
        std::vector<NameListState> states;
        std::vector<std::u16string> readings;
        std::u16string expected;
        std::size_t readingsTaken;
    } cases[] = {
        {"a list that holds still", {s, s, s}, {u"ABC"}, u"ABC", 2},
        {"an add and a remove within one clock tick", {s, s, s, s}, {u"AC", u"ABC"}, u"ABC", 3},
        {"agreement after churn", {s, {4, 8}, {3, 9}, {3, 9}, {3, 9}}, {u"AC", u"ABXC", u"ABC"}, u"ABC", 4},
        {"each reading up to the count asked before it", {s, {4, 8}, {4, 8}, {4, 8}}, {u"ABCD"}, u"ABCD", 3},
        {"the same names while the time moves", {s, {3, 8}, {3, 9}, {3, 9}, {3, 9}}, {u"ABC"}, u"ABC", 4},
        {"never settles: every name seen, once, in order", {{3, 1}, {3, 2}, {3, 3}, {3, 4}, {3, 5}, {3, 6}, {3, 7},
         {3, 8}, {3, 9}}, {u"AXC", u"XBC", u"ACC", u"AB"}, u"AXBC", SNAPSHOT_READINGS_MAX},
        {"gone after the second reading", {s, s}, {u"AC", u"BC"}, u"ABC", 2},
        {"cannot be asked at all", {}, {u"A"}, u"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedList list;
        list.states = c.states;
        list.readings = c.readings;
        EXPECT_EQ(TakeNameSnapshot(list), Names(c.expected));
        EXPECT_EQ(list.done, c.readingsTaken);
    }
}

}  // namespace
