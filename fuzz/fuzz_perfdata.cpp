// The perf-data value search: a value found is the bytes after the key's
// name, up to a NUL or the end of what may be read, never past the view.
#include "fuzzcheck.h"
#include "perfdata.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    // The first bytes choose the size that the file's metadata reports (the
    // view's own, or anything else) and the key: "javaCommand" or a short one
    // taken from the input.
    int reported = static_cast<int>(data[1] | data[2] << 8 | data[3] << 16 | static_cast<std::uint32_t>(data[4]) << 24);
    if ((data[0] & 1) == 0)
        reported = static_cast<int>(size - 5);
    std::string key = "javaCommand";
    std::size_t skip = 5;
    if ((data[0] & 2) != 0 && size > 6) {
        key.assign(reinterpret_cast<const char*>(data + 6), std::min<std::size_t>(data[5] % 8, size - 6));
        key = key.c_str();
        skip = 6;
    }
    std::vector<char> view(data + skip, data + size);
    // The search against the plainest one: the first occurrence, when a byte follows it.
    const std::string all(view.data(), view.size());
    std::size_t first = all.find(key);
    int expected = first != std::string::npos && first + key.size() < all.size() ? static_cast<int>(first) : -1;
    FUZZ_CHECK(FindInBuffer(view.data(), static_cast<int>(view.size()), key.c_str()) == expected);
    std::string value = "untouched";
    int code = FindPerfDataValue(view.data(), view.size(), reported, key.c_str(), value);
    FUZZ_CHECK(code == 0 || code == -6 || code == -7);
    if (code != 0) {
        FUZZ_CHECK(value == "untouched");
        return 0;
    }
    std::size_t at = all.find(key);
    FUZZ_CHECK(at != std::string::npos);
    std::size_t start = all.find('\0', at);
    FUZZ_CHECK(start != std::string::npos);
    FUZZ_CHECK(all.compare(start + 1, value.size(), value) == 0);
    FUZZ_CHECK(value.find('\0') == std::string::npos);
    std::string again;
    FUZZ_CHECK(FindPerfDataValue(view.data(), view.size(), reported, key.c_str(), again) == 0 && again == value);
    return 0;
}
