#include "regtext.h"

std::size_t RegistryTextUnits(const std::uint8_t* data, std::size_t dataBytes)
{
    std::size_t units = 0;
    while (units < dataBytes / 2 && RegistryTextUnit(data, units) != 0)
        ++units;
    return units;
}

std::uint16_t RegistryTextUnit(const std::uint8_t* data, std::size_t index)
{
    return static_cast<std::uint16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

std::uint16_t OneLineUnit(std::uint16_t unit)
{
    return unit == u'\r' || unit == u'\n' ? static_cast<std::uint16_t>(u' ') : unit;
}
