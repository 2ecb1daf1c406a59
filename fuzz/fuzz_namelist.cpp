// The name list's line splitting: every name is a NUL-terminated run of the
// input's bytes inside its buffer, without a line end, and the same input
// gives the same names.
#include "fuzzcheck.h"
#include "namelines.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> names;
    NameLineReader reader;
    for (std::size_t i = 0; i <= size; ++i) {
        NameLineEvent event = ReadNameByte(&reader, i < size ? data[i] : NAME_INPUT_END);
        FUZZ_CHECK(reader.length < NAME_LINE_SIZE && reader.line[NAME_LINE_SIZE - 1] == '\0');
        if (event == NAME_LINE_ENDS || (event == NAME_LIST_ENDS && reader.length > 0)) {
            FUZZ_CHECK(reader.length > 0);
            names.emplace_back(reader.line);
        }
        if (event != NAME_LINE_GOES_ON && event != NAME_LINE_ENDS)
            break;
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> names = Split(data, size);
    for (const std::string& name : names) {
        FUZZ_CHECK(name.size() < NAME_LINE_SIZE);
        FUZZ_CHECK(name.find_first_of("\r\n\x1A") == std::string::npos);
        FUZZ_CHECK(input.find(name) != std::string::npos);
    }
    FUZZ_CHECK(Split(data, size) == names);
    return 0;
}
