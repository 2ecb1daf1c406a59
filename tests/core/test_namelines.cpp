// The name list's lines, from the input file's bytes, in each encoding.
#include "namelines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Each name's units, each skipped line as "<too long N>" or "<undecodable N>",
// and "<NUL>" last for a file flagged as UTF-16 without its mark.
using Names = std::vector<std::u16string>;

std::u16string Units(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

Names ReadNames(const std::string& bytes)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    NameLineReader reader;
    std::size_t at = 0;
    reader.encoding = ReadNameListMark(data, bytes.size(), &at);
    Names names;
    for (;; ++at) {
        NameLineEvent event = ReadNameByte(&reader, at < bytes.size() ? data[at] : NAME_INPUT_END);
        const std::string line = std::to_string(reader.lineNumber) + ">";
        if (event == NAME_LINE_ENDS)
            names.emplace_back(reader.name, reader.name + reader.nameLength);
        else if (event == NAME_LINE_TOO_LONG)
            names.push_back(Units("<too long " + line));
        else if (event == NAME_LINE_UNDECODABLE)
            names.push_back(Units("<undecodable " + line));
        else if (event == NAME_LIST_ENDS && at >= bytes.size())
            break;
    }
    if (reader.nulByte)
        names.push_back(u"<NUL>");
    return names;
}

// The bytes of a UTF-16 text, with its mark unless `marked` is false.
std::string Utf16(const std::u16string& text, bool bigEndian, bool marked = true)
{
    std::string bytes;
    for (char16_t unit : (marked ? u"\uFEFF" : u"") + text)
        bytes += bigEndian ? std::string{char(unit >> 8), char(unit & 0xFF)} : std::string{char(unit & 0xFF), char(unit >> 8)};
    return bytes;
}

// Lines of 259 and 260 characters: the longest name and the first that is too long.
const std::string LONGEST(NAME_LINE_SIZE - 1, 'L');
const std::u16string LONGEST16 = Units(LONGEST);
const std::string TOO_LONG(NAME_LINE_SIZE, 'T');
const std::string UTF8_MARK = "\xEF\xBB\xBF";
// A path the Western code page cannot hold, and the two names whose UTF-16
// units hold a CR byte (U+010D) and a Ctrl-Z byte (U+011A).
const std::u16string FOLDER = u"C:\\\u041f\u0440\u043e\u0433\u0440 \u65e5\u672c\\\u010d\u011a.exe";
const std::string FOLDER_UTF8 = u8"C:\\\u041f\u0440\u043e\u0433\u0440 \u65e5\u672c\\\u010d\u011a.exe";

}  // namespace

TEST(NameLines, EncodingsLineEndsQuotesAndLimits)
{
    const struct {
        const char* what;
        std::string bytes;
        Names names;
    } cases[] = {
        // How the lists of Windows' own tools arrive.
        {"PowerShell 5.1: UTF-16 LE, mark", Utf16(u"C:\\a.exe\r\n" + FOLDER + u"\r\n\"C:\\b c.exe\"\r\n", false),
         {u"C:\\a.exe", FOLDER, u"C:\\b c.exe"}},
        {"Notepad: UTF-16 BE, mark", Utf16(u"C:\\a.exe\r\n" + FOLDER + u"\r\n", true), {u"C:\\a.exe", FOLDER}},
        {"UTF-8 with mark", UTF8_MARK + "C:\\a.exe\r\n" + FOLDER_UTF8 + "\r\n", {u"C:\\a.exe", FOLDER}},
        {"Explorer's Copy as path: ANSI, quoted", "\"C:\\a b.exe\"\r\n\"C:\\c.exe\"\r\n", {u"C:\\a b.exe", u"C:\\c.exe"}},
        {"cmd's dir /b /s: ANSI", "C:\\a.exe\r\nC:\\b.exe\r\n", {u"C:\\a.exe", u"C:\\b.exe"}},
        {"no mark, NUL bytes: UTF-16 without its mark", Utf16(u"C:\r\n", false, false), {u"C", u"", u"", u"<NUL>"}},
        // Line ends, blank lines, the end of the data.
        {"lone LF, lone CR, blank lines", "\r\n\nC:\\a.exe\n\rC:\\b.exe\r\r\n", {u"C:\\a.exe", u"C:\\b.exe"}},
        {"only line ends", "\r\n\n\r", {}},
        {"mark alone", UTF8_MARK, {}},
        {"last line without line end", "C:\\a.exe\r\nC:\\b.exe", {u"C:\\a.exe", u"C:\\b.exe"}},
        {"Ctrl-Z ends the data", "C:\\a.exe\r\nC:\\b\x1A.exe\r\nC:\\c.exe\r\n", {u"C:\\a.exe", u"C:\\b"}},
        {"decoded Ctrl-Z ends the data", Utf16(u"C:\\a.exe\r\nC:\\b\x1A\r\nC:\\c\r\n", false),
         {u"C:\\a.exe", u"C:\\b"}},
        {"NUL cuts the name, blanks kept", " C:\\a\0junk\t \r\n"s, {u" C:\\a", u"<NUL>"}},
        {"not a mark: ANSI", "\xEF\xBB" "C\r\n", {u"\u00EF\u00BB" "C"}},
        // Quotes: one pair around the whole line, in every encoding.
        {"quotes elsewhere stay", "C:\\\"a\".exe\r\n\"\r\n\"\"\r\n\"\"a\"\"\r\n\"C:\\a.exe\" \r\n",
         {u"C:\\\"a\".exe", u"\"", u"\"a\"", u"\"C:\\a.exe\" "}},
        // The limit, counted in characters, and the long line skipped.
        {"259 characters, also quoted", LONGEST + "\r\n\"" + LONGEST + "\"", {LONGEST16, LONGEST16}},
        {"260 characters skipped, the lines after read", "C:\\a.exe\r\n\r\n" + TOO_LONG + "\r\nC:\\b.exe\r\n",
         {u"C:\\a.exe", u"<too long 3>", u"C:\\b.exe"}},
        {"260 characters with a quote", "\"" + TOO_LONG + "\"\r\n\"" + LONGEST + "\r\n", {u"<too long 1>", u"<too long 2>"}},
        {"260 UTF-16 units", Utf16(std::u16string(NAME_LINE_SIZE, u'\u4e16') + u"\r\nC:\\a", false),
         {u"<too long 1>", u"C:\\a"}},
        // What no encoder writes is no name.
        {"UTF-8 not valid", UTF8_MARK + "C:\\\xC3(\r\n\xC0\xAF\r\n\xED\xA0\x80\r\n\xF4\x90\x80\x80\r\nC:\\\xF0\x9F\x98\x80\r\nC:\\\xE6",
         {u"<undecodable 1>", u"<undecodable 2>", u"<undecodable 3>", u"<undecodable 4>", u"C:\\\U0001F600",
          u"<undecodable 6>"}},
        {"UTF-16 cut in a unit", Utf16(u"C:\\a\r\nC:\\b", false) + "x", {u"C:\\a", u"<undecodable 2>"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadNames(c.bytes), c.names) << c.what;
}
