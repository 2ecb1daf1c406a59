#pragma once
// Webroster's rule for registry data: any value, whatever its type, is taken
// as UTF-16 text, and a text that goes on one output line has its CR and LF
// made spaces.
#include <cstddef>
#include <cstdint>

// UTF-16 units of `dataBytes` bytes of registry data taken as text: up to the
// first NUL unit, or to the end of the data when there is none. The last byte
// of an odd-sized datum is half a character and is dropped.
std::size_t RegistryTextUnits(const std::uint8_t* data, std::size_t dataBytes);
// The little-endian UTF-16 unit at `index` of the data.
std::uint16_t RegistryTextUnit(const std::uint8_t* data, std::size_t index);

// A CR or LF inside a name or a value would split the browser's line, and
// standard output's text mode would even turn an LF into a line end of its
// own; each becomes a space. Every other unit stays.
std::uint16_t OneLineUnit(std::uint16_t unit);
