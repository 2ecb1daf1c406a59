// The version tree over a block as the system returned it: every string found
// lies inside the walked part of the block, ends before its NUL, and the same
// block gives the same strings.
#include "fuzzcheck.h"
#include "versiontree.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Found {
    const VersionTree* tree;
    std::vector<std::size_t> seen;  // offset, bytes, units of every string reported
};

void Record(void* context, const std::uint8_t* value, std::size_t valueBytes)
{
    Found* found = static_cast<Found*>(context);
    const VersionTree& tree = *found->tree;
    FUZZ_CHECK(value >= tree.bytes && value <= tree.bytes + tree.length);
    FUZZ_CHECK(valueBytes <= static_cast<std::size_t>(tree.bytes + tree.length - value));
    std::size_t units = VersionTextUnits(tree, value, valueBytes);
    FUZZ_CHECK(units * (tree.wide ? 2 : 1) <= valueBytes);
    for (std::size_t i = 0; i < units; ++i)
        FUZZ_CHECK(VersionTextUnit(tree, value, i) != 0);
    found->seen.insert(found->seen.end(), {static_cast<std::size_t>(value - tree.bytes), valueBytes, units});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly the input's size: a read past it is AddressSanitizer's to see.
    std::vector<std::uint8_t> block(data, data + size);
    VersionTree tree;
    bool damaged = CheckVersionTree(block.data(), block.size(), &tree);
    FUZZ_CHECK(tree.length <= (size >= 4 ? (size - 4) / 2 : 0));
    std::vector<std::size_t> first;
    for (int round = 0; round < 2; ++round) {
        VersionTree again;
        FUZZ_CHECK(CheckVersionTree(block.data(), block.size(), &again) == damaged);
        FUZZ_CHECK(again.length == tree.length && again.wide == tree.wide);
        Found found = {&again, {}};
        bool description = SelectVersionString(again, "FileDescription", Record, &found);
        bool version = SelectVersionString(again, "FileVersion", Record, &found);
        found.seen.insert(found.seen.end(), {description, version});
        if (round == 0)
            first = found.seen;
        else
            FUZZ_CHECK(found.seen == first);
    }
    return 0;
}
