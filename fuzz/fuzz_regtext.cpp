// Registry data as text: the units are the data's own, up to its first NUL,
// and a text put on one line holds no CR or LF.
#include "fuzzcheck.h"
#include "regtext.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> copy(data, data + size);
    std::size_t units = RegistryTextUnits(copy.data(), copy.size());
    FUZZ_CHECK(units <= size / 2);
    FUZZ_CHECK(units == size / 2 || RegistryTextUnit(copy.data(), units) == 0);
    FUZZ_CHECK(RegistryTextUnits(copy.data(), copy.size()) == units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint16_t unit = RegistryTextUnit(copy.data(), i);
        FUZZ_CHECK(unit != 0 && unit == (data[2 * i] | data[2 * i + 1] << 8));
        std::uint16_t line = OneLineUnit(unit);
        FUZZ_CHECK(line != u'\r' && line != u'\n');
        FUZZ_CHECK(line == unit || unit == u'\r' || unit == u'\n');
    }
    return 0;
}
