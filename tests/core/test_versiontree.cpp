// When one read of the system gives the block of its two reads: only for a
// UTF-16 root that fits in every resource the check found.
#include "versiontree.h"

#include <gtest/gtest.h>

#include <vector>

TEST(VersionTree, OneReadBlockSize)
{
    const struct {
        unsigned root;
        bool wide;
        std::uint32_t smallest;
        std::size_t capacity;
        std::size_t expected;
    } rows[] = {
        {100, true, 100, 4096, 204},   // the root fills the resource
        {100, true, 104, 4096, 204},   // padding behind the root
        {100, true, 96, 4096, 0},      // the root claims more than a resource holds
        {100, true, 0, 4096, 0},       // no resource size known
        {100, false, 100, 4096, 0},    // the 8-bit layout
        {4, true, 100, 4096, 0},       // a root shorter than its header
        {2000, true, 4000, 4000, 0},   // more than the block holds
        {0xFFFF, true, 0x10000, 4 * 0x10000 + 4, 2 * 0xFFFF + 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.root);
        std::vector<std::uint8_t> block(row.capacity, 0);
        block[0] = static_cast<std::uint8_t>(row.root);
        block[1] = static_cast<std::uint8_t>(row.root >> 8);
        block[4] = row.wide ? 0 : 'V';
        EXPECT_EQ(OneReadBlockSize(block.data(), block.size(), row.smallest), row.expected);
    }
}
