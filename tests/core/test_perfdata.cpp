// The value search in a performance-data file's bytes.
#include "perfdata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace std::string_literals;

// A file cut down between its size query and its mapping gives a view shorter
// than the size first read, and nothing past the view may be read. The view
// here is a heap block of its exact size: AddressSanitizer stops the test at
// the first byte read past it.
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
    };
    for (const auto& c : cases) {
        std::memset(view.get(), 'x', page);
        std::memcpy(view.get() + page - c.tail.size(), c.tail.data(), c.tail.size());
        std::string value = "untouched";
        EXPECT_EQ(FindPerfDataValue(view.get(), page, static_cast<int>(2 * page + 100), "javaCommand", value), c.code);
        EXPECT_EQ(c.code == 0 ? c.value : "untouched", value);
    }
}
