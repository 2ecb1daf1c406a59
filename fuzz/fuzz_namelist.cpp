// The name list's lines in every encoding: every name is a run of the input's
// characters (encoded again, its bytes are found in the input) without a line
// end, a Ctrl-Z or a NUL, inside its buffer; line numbers only grow; and the
// same input gives the same names.
#include "fuzzcheck.h"
#include "namelines.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A name in the bytes of the file's encoding.
std::string Encoded(const NameLineReader& reader)
{
    std::string bytes;
    for (std::size_t i = 0; i < reader.nameLength; ++i) {
        std::uint32_t c = reader.name[i];
        if (reader.encoding == NAME_LIST_ANSI) {
            FUZZ_CHECK(c < 0x100);
            bytes += static_cast<char>(c);
        } else if (reader.encoding != NAME_LIST_UTF8) {
            bool big = reader.encoding == NAME_LIST_UTF16BE;
            bytes += static_cast<char>(big ? c >> 8 : c & 0xFF);
            bytes += static_cast<char>(big ? c & 0xFF : c >> 8);
        } else {
            // UTF-8 gives no lone surrogate: a pair is one character.
            if (c >= 0xD800 && c < 0xE000) {
                FUZZ_CHECK(c < 0xDC00 && i + 1 < reader.nameLength && reader.name[i + 1] >= 0xDC00 &&
                           reader.name[i + 1] < 0xE000);
                c = 0x10000 + ((c - 0xD800) << 10) + (reader.name[++i] - 0xDC00);
            }
            int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
            const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
            bytes += static_cast<char>(lead[extra] | c >> (6 * extra));
            for (int k = extra - 1; k >= 0; --k)
                bytes += static_cast<char>(0x80 | (c >> (6 * k) & 0x3F));
        }
    }
    return bytes;
}

// What one line gave: its event, its number and, for a name, its bytes.
struct Line {
    int event;
    std::size_t number;
    std::string bytes;
    bool operator==(const Line& other) const
    {
        return event == other.event && number == other.number && bytes == other.bytes;
    }
};

std::vector<Line> Split(const std::uint8_t* data, std::size_t size)
{
    std::vector<Line> lines;
    NameLineReader reader;
    std::size_t at = 0;
    reader.encoding = ReadNameListMark(data, size, &at);
    FUZZ_CHECK(at <= 3 && at <= size);
    std::size_t lastLine = 0;
    for (std::size_t ends = 0; ends < 4; ++at) {
        NameLineEvent event = ReadNameByte(&reader, at < size ? data[at] : NAME_INPUT_END);
        FUZZ_CHECK(reader.nameLength < NAME_LINE_SIZE && reader.name[reader.nameLength] == 0);
        FUZZ_CHECK(reader.length <= NAME_LINE_SIZE + 1);
        if (event == NAME_LIST_ENDS) {
            ends += at >= size ? 1 : 0;
            continue;
        }
        if (event == NAME_LINE_GOES_ON)
            continue;
        FUZZ_CHECK(reader.lineNumber > lastLine);
        lastLine = reader.lineNumber;
        lines.push_back({event, reader.lineNumber, std::string()});
        if (event != NAME_LINE_ENDS)
            continue;
        for (std::size_t i = 0; i < reader.nameLength; ++i)
            FUZZ_CHECK(reader.name[i] != '\r' && reader.name[i] != '\n' && reader.name[i] != 0x1A &&
                       reader.name[i] != 0);
        lines.back().bytes = Encoded(reader);
    }
    FUZZ_CHECK(!reader.nulByte || reader.encoding == NAME_LIST_ANSI);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<Line> lines = Split(data, size);
    for (const Line& line : lines)
        FUZZ_CHECK(input.find(line.bytes) != std::string::npos);
    FUZZ_CHECK(Split(data, size) == lines);
    return 0;
}
