// The bounded copy and append that every fixed buffer of TaskRoll goes through.
#include "text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Text, BoundedCopyAndAppend)
{
    const struct {
        bool append;
        const char* before;  // the destination's bytes before the call (all 8 of them when 8 long)
        std::size_t size;
        const char* source;
        bool fits;
        const char* after;
    } cases[] = {
        {false, "zzzz", 4, "abc", true, "abc"},
        {false, "zzzz", 4, "abcd", false, "abc"},
        {false, "zzzz", 1, "", true, ""},
        {false, "zzzz", 1, "a", false, ""},
        {true, "ab", 6, "cde", true, "abcde"},
        {true, "ab", 6, "cdef", false, "abcde"},
        {true, "abcde", 6, "", true, "abcde"},
        {true, "abcde", 6, "f", false, "abcde"},
        {true, "abcdefgh", 8, "i", false, "abcdefg"},  // no NUL inside: made a text, nothing appended
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + (c.append ? " + " : " := ") + c.source);
        char buffer[16];
        std::memset(buffer, 'x', sizeof buffer);
        std::memcpy(buffer, c.before, std::strlen(c.before) + (std::strlen(c.before) < 8 ? 1 : 0));
        const std::string beyond(buffer + c.size, sizeof buffer - c.size);
        bool fits = c.append ? AppendBounded(buffer, c.size, c.source) : CopyBounded(buffer, c.size, c.source);
        EXPECT_EQ(fits, c.fits);
        EXPECT_STREQ(buffer, c.after);
        EXPECT_EQ(std::string(buffer + c.size, sizeof buffer - c.size), beyond);  // nothing written past size
    }
    char untouched[] = "keep";
    EXPECT_FALSE(CopyBounded(untouched, 0, "x"));
    EXPECT_FALSE(AppendBounded(untouched, 0, "x"));
    EXPECT_STREQ(untouched, "keep");
}
