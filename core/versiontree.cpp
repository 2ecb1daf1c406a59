#include "versiontree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// A version resource is a tree of nodes. Each node holds its length in bytes,
// the length of its value, in the UTF-16 layout a type (1: text, counted in
// characters; 0: binary, counted in bytes), then its NUL-terminated key, its
// value and its children, each beginning on a 4-byte boundary counted from the
// node. The system's own query function trusts every length it meets and
// copies strings up to their NUL wherever that lies; a file that anyone can
// write could then make it read or write past the block. So the tree is
// walked here, every length checked against the room its parent leaves.

namespace {

constexpr int QUERY_BUFFER_SIZE = 520;
constexpr int CHECKED_DEPTH = 3;  // root's children: StringFileInfo, tables, strings

struct Node {
    std::size_t end = 0;         // past its last byte, never past its parent's end
    std::size_t next = 0;        // where the next sibling would start
    std::size_t key = 0;         // first byte of the key
    std::size_t keyUnits = 0;    // characters of the key, NUL excluded
    bool keyTerminated = false;  // false: the key runs to the node's end and matches nothing
    std::size_t value = 0;       // first byte of the value
    std::size_t valueBytes = 0;  // bytes of the value that lie inside the node
    std::size_t children = 0;    // first byte of the first child
};

std::size_t Align4(std::size_t offset)
{
    return (offset + 3) & ~static_cast<std::size_t>(3);
}

unsigned Word(const VersionTree& tree, std::size_t at)
{
    return tree.bytes[at] | (tree.bytes[at + 1] << 8);
}

unsigned Unit(const VersionTree& tree, std::size_t at)
{
    return tree.wide ? Word(tree, at) : tree.bytes[at];
}

// Reads the node at `start` of a parent that ends at `parentEnd`. False at the
// end of the list: no room left for a header, or a zero length (padding).
// Whatever overstates its room is cut to it and reported through `damaged`.
bool ReadNode(const VersionTree& tree, std::size_t start, std::size_t parentEnd, Node* node, bool* damaged)
{
    const std::size_t header = tree.wide ? 6 : 4;
    const std::size_t unit = tree.wide ? 2 : 1;
    if (start >= parentEnd || parentEnd - start < header)
        return false;
    std::size_t length = Word(tree, start);
    if (length == 0)
        return false;
    if (length < header) {
        *damaged = true;
        return false;
    }
    if (length > parentEnd - start) {
        *damaged = true;
        length = parentEnd - start;
    }
    node->end = start + length;
    node->next = start + Align4(length);
    node->key = start + header;
    std::size_t at = node->key;
    while (at + unit <= node->end && Unit(tree, at) != 0)
        at += unit;
    node->keyUnits = (at - node->key) / unit;
    node->keyTerminated = at + unit <= node->end;
    node->value = node->children = node->end;
    node->valueBytes = 0;
    if (!node->keyTerminated) {
        *damaged = true;
        return true;
    }
    std::size_t declared = Word(tree, start + 2);
    if (tree.wide && Word(tree, start + 4) != 0)
        declared *= 2;
    node->value = std::min(node->end, start + Align4(at + unit - start));
    std::size_t room = node->end - node->value;
    if (declared > room)
        *damaged = true;
    node->valueBytes = std::min(declared, room);
    node->children = std::min(node->end, node->value + Align4(declared));
    return true;
}

// Key comparison as the system makes it: ASCII letters in either case.
bool KeyIs(const VersionTree& tree, const Node& node, const char* name, std::size_t nameLength)
{
    if (!node.keyTerminated || node.keyUnits != nameLength)
        return false;
    const std::size_t unit = tree.wide ? 2 : 1;
    for (std::size_t i = 0; i < nameLength; ++i) {
        unsigned c = Unit(tree, node.key + i * unit);
        unsigned wanted = static_cast<unsigned char>(name[i]);
        const auto lower = [](unsigned letter) { return letter >= 'A' && letter <= 'Z' ? letter + 32 : letter; };
        if (c >= 0x80 || lower(c) != lower(wanted))
            return false;
    }
    return true;
}

// Finds the node of a query path such as "\VarFileInfo\Translation".
bool FindNode(const VersionTree& tree, const char* path, Node* node)
{
    bool ignored = false;
    if (!ReadNode(tree, 0, tree.length, node, &ignored))
        return false;
    for (;;) {
        while (*path == '\\')
            ++path;
        if (*path == '\0')
            return true;
        std::size_t nameLength = std::strcspn(path, "\\");
        const Node parent = *node;
        bool found = false;
        for (std::size_t at = parent.children; !found && ReadNode(tree, at, parent.end, node, &ignored);
             at = node->next)
            found = KeyIs(tree, *node, path, nameLength);
        if (!found)
            return false;
        path += nameLength;
    }
}

// Whether a value holds a NUL within its stated length, as every string must;
// an empty one states none.
bool EndsInNul(const VersionTree& tree, const Node& node)
{
    const std::size_t unit = tree.wide ? 2 : 1;
    if (node.valueBytes < unit)
        return true;
    for (std::size_t at = node.value; at + unit <= node.value + node.valueBytes; at += unit) {
        if (Unit(tree, at) == 0)
            return true;
    }
    return false;
}

// Checks every node down to `depth` levels below the list starting at `first`.
// The nodes at the bottom of StringFileInfo hold strings.
void CheckNodes(const VersionTree& tree, std::size_t first, std::size_t end, int depth, bool strings, bool* damaged)
{
    Node node;
    for (std::size_t at = first; ReadNode(tree, at, end, &node, damaged); at = node.next) {
        if (depth > 1) {
            bool stringTables = strings || (depth == CHECKED_DEPTH && KeyIs(tree, node, "StringFileInfo", 14));
            CheckNodes(tree, node.children, node.end, depth - 1, stringTables, damaged);
        } else if (strings && !EndsInNul(tree, node)) {
            *damaged = true;
        }
    }
}

}  // namespace

bool CheckVersionTree(const std::uint8_t* block, std::size_t size, VersionTree* tree)
{
    tree->bytes = block;
    // The old 8-bit layout has its key where the UTF-16 layout has its type
    // word, which is 0 or 1.
    tree->wide = !(size > 4 && block[4] >= ' ');
    // The size asked for leaves room behind the resource for the ANSI copies
    // that the system's query function makes, as much again and a 4-byte
    // signature. A root that claims more than that was not read from the file.
    tree->length = size >= 4 ? (size - 4) / 2 : 0;

    bool damaged = false;
    Node root;
    if (ReadNode(*tree, 0, tree->length, &root, &damaged)) {
        tree->length = root.end;
        CheckNodes(*tree, root.children, root.end, CHECKED_DEPTH, false, &damaged);
    } else {
        tree->length = 0;
        damaged = true;
    }
    return damaged;
}

std::size_t OneReadBlockSize(const std::uint8_t* block, std::size_t capacity, std::uint32_t smallestResource)
{
    // The size query asks for the resource, as much again for the ANSI
    // copies, and a signature; CheckVersionTree bounds the walk by half of
    // that and by the root's own length. Wine sizes from the root's length
    // (2 x length + 4, for each of its system files), Windows from the
    // resource's size, which is the root's length or a few padding bytes more.
    // Where the root fits in every resource the system could take, both give
    // a bound of at least the root's length, so the walk is the root itself,
    // and the read copied all of it. A root that claims more than a resource
    // holds is where the two differ: those only the two reads can tell. An
    // 8-bit root is sized by rules of its own.
    const std::size_t header = 6;
    if (capacity < header || block[4] >= ' ')
        return 0;
    const std::size_t root = block[0] | (block[1] << 8);
    const std::size_t size = 2 * root + 4;
    if (root < header || smallestResource == 0 || root > smallestResource || size > capacity)
        return 0;
    return size;
}

bool SelectVersionString(const VersionTree& tree, const char* name, VersionStringFound found, void* context)
{
    bool result = false;
    Node translation;
    if (!FindNode(tree, "\\VarFileInfo\\Translation", &translation))
        return false;
    char probe[QUERY_BUFFER_SIZE] = {};
    char query[QUERY_BUFFER_SIZE] = {};
    // Every entry up to the bound is visited; the last one whose table has a
    // FileDescription decides the result, even when an earlier one found the
    // string. Each visit walks the string tables, so the bound keeps a list
    // of thousands of entries over thousands of tables from costing seconds.
    const std::size_t entries = std::min(translation.valueBytes / 4, TRANSLATIONS_VISITED_MAX);
    for (std::size_t i = 0; i < entries; ++i) {
        unsigned language = Word(tree, translation.value + 4 * i);
        unsigned codePage = Word(tree, translation.value + 4 * i + 2);
        Node value;
        std::snprintf(probe, sizeof probe, "\\StringFileInfo\\%04x%04x\\FileDescription", language, codePage);
        if (!FindNode(tree, probe, &value))
            continue;
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", language, codePage, name);
        result = FindNode(tree, query, &value);
        if (result)
            found(context, tree.bytes + value.value, value.valueBytes);
    }
    return result;
}

std::size_t VersionTextUnits(const VersionTree& tree, const std::uint8_t* value, std::size_t valueBytes)
{
    const std::size_t unit = tree.wide ? 2 : 1;
    std::size_t units = 0;
    while ((units + 1) * unit <= valueBytes && VersionTextUnit(tree, value, units) != 0)
        ++units;
    return units;
}

unsigned VersionTextUnit(const VersionTree& tree, const std::uint8_t* value, std::size_t index)
{
    return tree.wide ? value[2 * index] | (value[2 * index + 1] << 8) : value[index];
}
