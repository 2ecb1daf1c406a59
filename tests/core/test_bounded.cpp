// The bounded copy and append that every fixed buffer of TaskRoll goes through,
// and the cut that keeps a double-byte character whole.
#include "bounded.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Bounded, BoundedCopyAndAppend)
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

// A cut to a byte limit never keeps a lead byte of a double-byte code page
// without its trail byte; a trail byte of a lead byte's value is no lead.
TEST(Bounded, CutOnCharacterKeepsDoubleByteCharactersWhole)
{
    LeadBytes cp932;  // lead bytes of code page 932
    for (unsigned byte = 0; byte < 256; ++byte)
        cp932.lead[byte] = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    const LeadBytes singleByte;
    const struct {
        const char* text;
        std::size_t limit;
        const LeadBytes& leadBytes;
        std::size_t kept;
    } cases[] = {
        {"ab\x83\x65", 3, cp932, 2},            // the lead byte would stand alone
        {"ab\x83\x65", 4, cp932, 4},
        {"\x83\x81\x83\x65x", 3, cp932, 2},     // 0x81 is the first character's trail byte here
        {"ab\x83\x65", 3, singleByte, 3},
        {"abc\x83", 3, cp932, 3},
        {"ab", 1, cp932, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CutOnCharacter(c.text, std::strlen(c.text), c.limit, c.leadBytes), c.kept);
    }
}
