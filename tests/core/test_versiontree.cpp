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

namespace {

using Bytes = std::vector<std::uint8_t>;

void Pad4(Bytes* bytes)
{
    while (bytes->size() % 4 != 0)
        bytes->push_back(0);
}

// A node of the UTF-16 layout: its header, key, value and children, each
// on a 4-byte boundary. A text value's length counts characters.
Bytes Node(const std::string& key, const Bytes& value, bool text, const std::vector<Bytes>& children = {})
{
    Bytes node(6, 0);
    for (char c : key)
        node.insert(node.end(), {static_cast<std::uint8_t>(c), 0});
    node.insert(node.end(), {0, 0});
    Pad4(&node);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        Pad4(&node);
        node.insert(node.end(), child.begin(), child.end());
    }
    const std::size_t valueLength = text ? value.size() / 2 : value.size();
    node[0] = static_cast<std::uint8_t>(node.size());
    node[1] = static_cast<std::uint8_t>(node.size() >> 8);
    node[2] = static_cast<std::uint8_t>(valueLength);
    node[3] = static_cast<std::uint8_t>(valueLength >> 8);
    node[4] = text ? 1 : 0;
    return node;
}

Bytes Text(const std::string& text)
{
    Bytes bytes;
    for (char c : text)
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

void Collect(void* context, const std::uint8_t* value, std::size_t valueBytes)
{
    std::string text;
    for (std::size_t i = 0; i + 1 < valueBytes && value[i] != 0; i += 2)
        text += static_cast<char>(value[i]);
    static_cast<std::vector<std::string>*>(context)->push_back(text);
}

}  // namespace

// However many translations a resource lists, the choice visits the first
// TRANSLATIONS_VISITED_MAX; the last of those with a FileDescription decides.
TEST(VersionTree, TheStringChoiceVisitsABoundedNumberOfTranslations)
{
    const std::size_t listed = TRANSLATIONS_VISITED_MAX + 4;
    const struct {
        const char* what;
        std::size_t firstTable;  // translations from this one on have a table
        bool found;
        std::size_t reported;
    } rows[] = {
        {"every translation has a table", 0, true, TRANSLATIONS_VISITED_MAX},
        {"only those past the bound have one", TRANSLATIONS_VISITED_MAX, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes translations;
        std::vector<Bytes> tables;
        for (std::size_t i = 0; i < listed; ++i) {
            translations.insert(translations.end(), {static_cast<std::uint8_t>(i + 1), 0, 0xB0, 0x04});
            char key[9];
            std::snprintf(key, sizeof key, "%04x04b0", static_cast<unsigned>(i + 1));
            if (i >= row.firstTable)
                tables.push_back(Node(key, {}, true, {Node("FileDescription", Text("D" + std::to_string(i)), true)}));
        }
        const Bytes root = Node("VS_VERSION_INFO", {}, false,
                                {Node("StringFileInfo", {}, true, tables),
                                 Node("VarFileInfo", {}, true, {Node("Translation", translations, false)})});
        Bytes block(2 * root.size() + 4, 0);
        std::copy(root.begin(), root.end(), block.begin());
        VersionTree tree;
        EXPECT_FALSE(CheckVersionTree(block.data(), block.size(), &tree));
        std::vector<std::string> found;
        EXPECT_EQ(SelectVersionString(tree, "FileDescription", Collect, &found), row.found);
        ASSERT_EQ(found.size(), row.reported);
        if (row.found) {
            EXPECT_EQ(found.back(), "D" + std::to_string(TRANSLATIONS_VISITED_MAX - 1));
        }
    }
}
