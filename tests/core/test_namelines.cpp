// The name list's lines, from the input file's bytes.
#include "namelines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using Names = std::vector<std::string>;

// The names that the bytes give, handed out as the header tells: a line that
// ends, and at the end of the data a line that holds something.
Names ReadNames(const std::string& bytes)
{
    NameLineReader reader;
    Names names;
    for (std::size_t at = 0;; ++at) {
        int byte = at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : NAME_INPUT_END;
        NameLineEvent event = ReadNameByte(&reader, byte);
        if (event == NAME_LINE_ENDS)
            names.push_back(reader.line);
        if (event == NAME_LIST_ENDS && reader.length > 0)
            names.push_back(reader.line);
        if (event == NAME_LIST_ENDS || event == NAME_LINE_TOO_LONG)
            return names;
    }
}

// Lines of 259 and 260 bytes: the longest name and the first that is too long.
const std::string LONGEST(NAME_LINE_SIZE - 1, 'L');
const std::string TOO_LONG(NAME_LINE_SIZE, 'T');

}  // namespace

TEST(NameLines, LineEndsBlanksAndLimits)
{
    const struct {
        const char* what;
        std::string bytes;
        Names names;
    } cases[] = {
        {"CR LF", "C:\\a.exe\r\nC:\\b.exe\r\n", {"C:\\a.exe", "C:\\b.exe"}},
        {"lone LF", "C:\\a.exe\nC:\\b.exe\n", {"C:\\a.exe", "C:\\b.exe"}},
        {"lone CR", "C:\\a.exe\rC:\\b.exe\r", {"C:\\a.exe", "C:\\b.exe"}},
        {"blank lines", "\r\n\n\rC:\\a.exe\r\n\r\n\nC:\\b.exe\r\n\r", {"C:\\a.exe", "C:\\b.exe"}},
        {"only line ends", "\r\n\n\r", {}},
        {"empty file", "", {}},
        {"last line without line end", "C:\\a.exe\r\nC:\\b.exe", {"C:\\a.exe", "C:\\b.exe"}},
        {"Ctrl-Z ends the data", "C:\\a.exe\r\nC:\\b\x1A.exe\r\nC:\\c.exe\r\n", {"C:\\a.exe", "C:\\b"}},
        {"NUL cuts the name", "C:\\a\0junk\r\nC:\\b.exe\r\n"s, {"C:\\a", "C:\\b.exe"}},
        {"blanks kept", " C:\\a b.exe\t \r\n", {" C:\\a b.exe\t "}},
        {"duplicates kept", "C:\\a.exe\r\nC:\\a.exe\r\n", {"C:\\a.exe", "C:\\a.exe"}},
        {"259 bytes", LONGEST + "\r\n" + LONGEST, {LONGEST, LONGEST}},
        {"260 bytes stop the reading", "C:\\a.exe\r\n" + TOO_LONG + "\r\nC:\\b.exe\r\n", {"C:\\a.exe"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadNames(c.bytes), c.names) << c.what;
}
