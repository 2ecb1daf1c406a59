#include "perfdata.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace std::string_literals;

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
TEST(PerfDataSearch, SameAsPlainSearch)
{
    std::mt19937 random(17);
    for (int round = 0; round < 20000; ++round) {
        std::string key(random() % 6, 'a'), data(random() % 40, 'a');
        for (char& c : key)
            c = static_cast<char>('a' + random() % 2);
        for (char& c : data)
            c = static_cast<char>('a' + random() % 2);
        // The first occurrence anywhere is the one, when a byte follows it.
        std::size_t first = data.find(key);
        int expected = first != std::string::npos && first + key.size() < data.size() ? static_cast<int>(first) : -1;
        ASSERT_EQ(FindInBuffer(data.data(), static_cast<int>(data.size()), key.c_str()), expected) << data << "/" << key;
    }
}
