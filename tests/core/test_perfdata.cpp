// The value search in a performance-data file's bytes.
#include "perfdata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

using namespace std::string_literals;

// The value after the key's name. A file cut down between its size query and
// its mapping gives a view shorter than the size first read, and nothing past
// the view may be read. The view here is a heap block of its exact size:
// AddressSanitizer stops the test at the first byte read past it.
TEST(PerfData, ViewShorterThanReportedSize)
{
    const std::size_t page = 4096;
    std::unique_ptr<char[]> view(new char[page]);
    const struct {
        std::string tail;  // the last bytes of the view
        int code;
        std::string value;
    } cases[] = {
        {"javaCommand\0Main to the end of the view"s, 0, "Main to the end of the view"},
        {"javaCommand\0"s, -7, ""},
        {"javaComm"s, -6, ""},
        {"javaCommand", -6, ""},
        {"JavaCommand\0Main\0"s, -6, ""},
        {"javaCommandName", -7, ""},
        {"javaCommand\0\0rest\0"s, 0, ""},
        {"\0sun.rt.javaCommand\0Main \xE9\t1\0rest\0"s, 0, "Main \xE9\t1"},
        {"javaCommand\0first\0javaCommand\0second\0"s, 0, "first"},
    };
    for (const auto& c : cases) {
        std::memset(view.get(), 'x', page);
        std::memcpy(view.get() + page - c.tail.size(), c.tail.data(), c.tail.size());
        std::string value = "untouched";
        EXPECT_EQ(FindPerfDataValue(view.get(), page, static_cast<int>(2 * page + 100), "javaCommand", value), c.code);
        EXPECT_EQ(c.code == 0 ? c.value : "untouched", value);
    }
}

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
