#pragma once
// The version resource's tree, walked over the bytes that the system's version
// functions returned: the layout check and the string selection. Every offset
// is checked against the room its parent leaves, so no byte outside the block
// is read, whatever the file claims.
#include <cstddef>
#include <cstdint>

struct VersionTree {
    const std::uint8_t* bytes = nullptr;
    std::size_t length = 0;  // bytes of the block that the walk may use
    bool wide = true;        // UTF-16 keys and strings; false: the old 8-bit layout
};

// Takes the block of `size` bytes (as the system returned it, zero-filled
// beyond what it wrote) as a tree: picks the layout, bounds the walk to the
// root node and checks every node that a string query walks through. True
// when some node overstates its room or lacks its terminator; what lies
// inside the block stays usable either way.
bool CheckVersionTree(const std::uint8_t* block, std::size_t size, VersionTree* tree);

// The size that one read of the system needs to give what its size query and
// a read of that size give: for a block that the system's read filled with
// room to spare (`capacity` bytes, zero past what it wrote), the size of the
// tree that CheckVersionTree would take from the two reads. 0 when only those
// two tell (the old 8-bit layout, a root shorter than its header, a root that
// claims more than the smallest resource the file's check found, or more than
// the block holds).
std::size_t OneReadBlockSize(const std::uint8_t* block, std::size_t capacity, std::uint32_t smallestResource);

// Called for every translation whose table has both a FileDescription and
// `name`, in the order of the translation list, with the string's value:
// `valueBytes` bytes inside the tree, not yet cut at its NUL.
using VersionStringFound = void (*)(void* context, const std::uint8_t* value, std::size_t valueBytes);

// Translations that a string choice visits, from the first: real files list
// 1 to 3, and a crafted list of thousands costs no more than this many.
constexpr std::size_t TRANSLATIONS_VISITED_MAX = 16;

// Looks up the string table entry `name` under every translation in turn, up
// to TRANSLATIONS_VISITED_MAX of them. The last translation visited whose
// table has a FileDescription decides: true when its table has `name` too,
// even if an earlier one had it and was reported.
bool SelectVersionString(const VersionTree& tree, const char* name, VersionStringFound found, void* context);

// Characters of a string value up to its first NUL (UTF-16 units in the wide
// layout, bytes in the 8-bit one), never past its `valueBytes`.
std::size_t VersionTextUnits(const VersionTree& tree, const std::uint8_t* value, std::size_t valueBytes);
// The character at `index` of a string value.
unsigned VersionTextUnit(const VersionTree& tree, const std::uint8_t* value, std::size_t index);
