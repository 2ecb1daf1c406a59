#pragma once
// A consistent list of names from a list that may change while it is read,
// such as the subkeys of a registry key: the list is read by index, and an
// index shifts under the reader when an entry before it comes or goes, so one
// reading can skip an entry nobody touched or meet one twice.
#include <cstdint>
#include <string>
#include <vector>

// Readings of a list that never holds still: after this many the names of all
// of them are taken together.
constexpr int SNAPSHOT_READINGS_MAX = 8;

// What the list tells about itself between readings.
struct NameListState {
    std::uint32_t count = 0;    // its number of entries
    std::uint64_t written = 0;  // its last-write time, in the clock's own units
};

// The list as the snapshot sees it: its state, and one reading of its names.
class NameListSource {
public:
    virtual ~NameListSource() = default;
    // False when the list cannot be asked (it is gone).
    virtual bool QueryState(NameListState* state) = 0;
    // The names of one pass over the list, in index order; `count` is the
    // count asked just before, for the source to bound its pass by.
    virtual std::vector<std::u16string> ReadNames(std::uint32_t count) = 0;
};

// The rule: the names are read until two readings in a row agree, that is give
// the same names in the same order while the list's state (count and
// last-write time) stayed the same from before the first to after the second.
// The state alone cannot tell: its time moves by clock ticks, and a name added
// and another removed within one tick leave it as it was. When no two readings
// agree within SNAPSHOT_READINGS_MAX, or the list cannot be asked any more,
// every name seen in any reading is taken, once, in the list's order: an entry
// present throughout is then missing only if every reading skipped it, and one
// removed meanwhile may be listed. Nothing when the first query fails.
std::vector<std::u16string> TakeNameSnapshot(NameListSource& source);

// The names of `readings` together, each once, in an order that keeps the
// order of every reading as far as the readings agree on it.
std::vector<std::u16string> MergeNameReadings(const std::vector<std::vector<std::u16string>>& readings);
