#include "perfdata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

using namespace std::string_literals;

namespace {

// The search as it reads when written plainly: a compare at every offset.
int NaiveFind(const std::string& data, const std::string& key)
{
    for (std::size_t i = 0; i + key.size() < data.size(); ++i) {
        if (data.compare(i, key.size(), key) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

TEST(PerfDataSearch, FirstOccurrenceLeavingOneByteAfter)
{
    const struct {
        std::string data, key;
        int offset;
    } cases[] = {
        {"xjavaCommand!", "javaCommand", 1},
        {"xjavaCommand", "javaCommand", -1},           // nothing after it
        {"aaaaab!", "aaab", 2},                         // a partial match resumes inside itself
        {"\0\0jav\0javaCommand\0"s, "javaCommand", 6},  // NUL bytes are bytes like any other
        {"x", "", 0},
        {"", "", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindInBuffer(c.data.data(), static_cast<int>(c.data.size()), c.key.c_str()), c.offset) << c.data;
    EXPECT_EQ(FindInBuffer(nullptr, 4, "a"), -1);
    EXPECT_EQ(FindInBuffer("abcd", -1, "a"), -1);
}

// Buffers and keys over two letters, so that keys overlap themselves and the
// buffer near-misses them at every turn.
TEST(PerfDataSearch, SameAsCompareAtEveryOffset)
{
    std::mt19937 random(17);
    for (int round = 0; round < 20000; ++round) {
        std::string key(random() % 6, 'a'), data(random() % 40, 'a');
        for (char& c : key)
            c = static_cast<char>('a' + random() % 2);
        for (char& c : data)
            c = static_cast<char>('a' + random() % 2);
        ASSERT_EQ(FindInBuffer(data.data(), static_cast<int>(data.size()), key.c_str()), NaiveFind(data, key))
            << data << " / " << key;
    }
}
