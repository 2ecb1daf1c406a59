// Record assembly: a record is one NUL-terminated line inside its buffer,
// ends in its only '$' with room left for the line end, holds the input's
// texts (with '$' made 'S' and CR, LF made spaces), and no cut leaves a lone
// lead byte of a double-byte code page.
#include "fuzzcheck.h"
#include "record.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t DESCRIPTION_LIMIT = 259;

std::string Replaced(std::string text)
{
    for (char& c : text)
        c = c == '$' ? 'S' : c == '\r' || c == '\n' ? ' ' : c;
    return text;
}

// True when the first `kept` bytes of `text` end on a character boundary.
bool OnBoundary(const std::string& text, std::size_t kept, const LeadBytes& leadBytes)
{
    std::size_t at = 0;
    while (at < kept)
        at += leadBytes.lead[static_cast<unsigned char>(text[at])] && at + 1 < text.size() ? 2 : 1;
    return at == kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    static const char* const DELIMITERS[] = {"\t", ",", ";"};
    const char* delimiter = DELIMITERS[data[0] % 3];
    const std::size_t recordSize = 3 + data[1] % 200 + (data[1] >= 200 ? 32768 - 256 : 0);
    // A code page of 932's shape, or a single-byte one.
    LeadBytes leadBytes;
    for (unsigned byte = 0; byte < 256; ++byte)
        leadBytes.lead[byte] = (data[2] & 1) != 0 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
    const std::string rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::string first = rest.substr(0, rest.find('\0'));
    std::string whole = rest.size() > first.size() ? rest.substr(first.size() + 1) : std::string();
    whole = whole.c_str();
    const std::string description =
        whole.substr(0, CutOnCharacter(whole.data(), whole.size(), DESCRIPTION_LIMIT, leadBytes));
    FUZZ_CHECK(description.size() <= DESCRIPTION_LIMIT && OnBoundary(whole, description.size(), leadBytes));

    std::vector<char> record(recordSize, 'x');
    AssembleRecordText(record.data(), record.size(), first.c_str(), delimiter, description.c_str(), leadBytes);
    ReplaceRecordDelims(record.data());
    EndRecord(record.data(), record.size());
    const std::size_t length = strnlen(record.data(), record.size());
    FUZZ_CHECK(length < record.size());
    const std::string line(record.data(), length);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(length <= recordSize - 2 && line.find('$') == length - 1);
    // Whenever the whole tail fits, the first field is a cut of the input's on
    // a character boundary and the description follows whole.
    const std::string tail = std::string(delimiter) + delimiter + Replaced(description) + "$";
    if (tail.size() + 2 <= recordSize) {
        FUZZ_CHECK(line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0);
        const std::size_t kept = line.size() - tail.size();
        FUZZ_CHECK(kept <= first.size() && line.compare(0, kept, Replaced(first.substr(0, kept))) == 0);
        FUZZ_CHECK(OnBoundary(first, kept, leadBytes));
    }
    std::vector<char> again(recordSize, 'y');
    AssembleRecordText(again.data(), again.size(), first.c_str(), delimiter, description.c_str(), leadBytes);
    ReplaceRecordDelims(again.data());
    EndRecord(again.data(), again.size());
    FUZZ_CHECK(std::string(again.data(), strnlen(again.data(), again.size())) == line);
    return 0;
}
