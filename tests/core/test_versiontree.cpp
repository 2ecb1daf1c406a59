// When one read of the system gives the block of its two reads: only for a
// UTF-16 root that fits in every resource the check found.
#include "versiontree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
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

// A node of the UTF-16 layout: its header and key, then its value and each
// child on a 4-byte boundary. A text value's length counts characters.
static std::vector<std::uint8_t> Node(const std::string& key, const std::vector<std::uint8_t>& value, bool text,
                                      const std::vector<std::vector<std::uint8_t>>& children = {})
{
    std::vector<std::uint8_t> node(6, 0);
    for (char c : key)
        node.insert(node.end(), {static_cast<std::uint8_t>(c), 0});
    node.resize((node.size() + 5) / 4 * 4, 0);
    node.insert(node.end(), value.begin(), value.end());
    for (const auto& child : children) {
        node.resize((node.size() + 3) / 4 * 4, 0);
        node.insert(node.end(), child.begin(), child.end());
    }
    const std::size_t length = text ? value.size() / 2 : value.size();
    const std::uint8_t header[] = {std::uint8_t(node.size()), std::uint8_t(node.size() >> 8), std::uint8_t(length),
                                   std::uint8_t(length >> 8), text};
    std::copy(header, header + 5, node.begin());
    return node;
}

// Of 20 translations, each with its table, the first 16 are visited in order
// and the last of them decides; the tables of the later ones are never reached.
TEST(VersionTree, TheStringChoiceVisitsABoundedNumberOfTranslations)
{
    const std::string descriptions = "ABCDEFGHIJKLMNOPQRST";
    std::vector<std::uint8_t> translations;
    std::vector<std::vector<std::uint8_t>> tables;
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        translations.insert(translations.end(), {std::uint8_t(i + 1), 0, 0xB0, 0x04});
        char key[9];
        std::snprintf(key, sizeof key, "%04x04b0", static_cast<unsigned>(i + 1));
        const std::vector<std::uint8_t> text = {std::uint8_t(descriptions[i]), 0, 0, 0};
        tables.push_back(Node(key, {}, true, {Node("FileDescription", text, true)}));
    }
    const auto root = Node("VS_VERSION_INFO", {}, false,
                           {Node("StringFileInfo", {}, true, tables),
                            Node("VarFileInfo", {}, true, {Node("Translation", translations, false)})});
    std::vector<std::uint8_t> block(2 * root.size() + 4, 0);
    std::copy(root.begin(), root.end(), block.begin());
    VersionTree tree;
    EXPECT_FALSE(CheckVersionTree(block.data(), block.size(), &tree));
    std::string found;
    const auto collect = [](void* context, const std::uint8_t* value, std::size_t) {
        static_cast<std::string*>(context)->push_back(static_cast<char>(value[0]));
    };
    EXPECT_TRUE(SelectVersionString(tree, "FileDescription", collect, &found));
    EXPECT_EQ(found, descriptions.substr(0, TRANSLATIONS_VISITED_MAX));
}
