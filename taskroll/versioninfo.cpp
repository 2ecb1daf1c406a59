#include "versioninfo.h"

#include "debuglog.h"
#include "settings.h"
#include "text.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

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

unsigned Word(const VersionResource& resource, std::size_t at)
{
    return resource.block[at] | (resource.block[at + 1] << 8);
}

unsigned Unit(const VersionResource& resource, std::size_t at)
{
    return resource.wide ? Word(resource, at) : resource.block[at];
}

// Reads the node at `start` of a parent that ends at `parentEnd`. False at the
// end of the list: no room left for a header, or a zero length (padding).
// Whatever overstates its room is cut to it and reported through `damaged`.
bool ReadNode(const VersionResource& resource, std::size_t start, std::size_t parentEnd, Node* node, bool* damaged)
{
    const std::size_t header = resource.wide ? 6 : 4;
    const std::size_t unit = resource.wide ? 2 : 1;
    if (start >= parentEnd || parentEnd - start < header)
        return false;
    std::size_t length = Word(resource, start);
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
    while (at + unit <= node->end && Unit(resource, at) != 0)
        at += unit;
    node->keyUnits = (at - node->key) / unit;
    node->keyTerminated = at + unit <= node->end;
    node->value = node->children = node->end;
    node->valueBytes = 0;
    if (!node->keyTerminated) {
        *damaged = true;
        return true;
    }
    std::size_t declared = Word(resource, start + 2);
    if (resource.wide && Word(resource, start + 4) != 0)
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
bool KeyIs(const VersionResource& resource, const Node& node, const char* name, std::size_t nameLength)
{
    if (!node.keyTerminated || node.keyUnits != nameLength)
        return false;
    const std::size_t unit = resource.wide ? 2 : 1;
    for (std::size_t i = 0; i < nameLength; ++i) {
        unsigned c = Unit(resource, node.key + i * unit);
        unsigned wanted = static_cast<unsigned char>(name[i]);
        if (c >= 0x80 || std::tolower(static_cast<int>(c)) != std::tolower(static_cast<int>(wanted)))
            return false;
    }
    return true;
}

// Finds the node of a query path such as "\VarFileInfo\Translation".
bool FindNode(const VersionResource& resource, const char* path, Node* node)
{
    bool ignored = false;
    if (!ReadNode(resource, 0, resource.length, node, &ignored))
        return false;
    for (;;) {
        while (*path == '\\')
            ++path;
        if (*path == '\0')
            return true;
        std::size_t nameLength = std::strcspn(path, "\\");
        const Node parent = *node;
        bool found = false;
        for (std::size_t at = parent.children; !found && ReadNode(resource, at, parent.end, node, &ignored);
             at = node->next)
            found = KeyIs(resource, *node, path, nameLength);
        if (!found)
            return false;
        path += nameLength;
    }
}

// Whether a value holds a NUL within its stated length, as every string must;
// an empty one states none.
bool EndsInNul(const VersionResource& resource, const Node& node)
{
    const std::size_t unit = resource.wide ? 2 : 1;
    if (node.valueBytes < unit)
        return true;
    for (std::size_t at = node.value; at + unit <= node.value + node.valueBytes; at += unit) {
        if (Unit(resource, at) == 0)
            return true;
    }
    return false;
}

// Checks every node down to `depth` levels below the list starting at `first`.
// The nodes at the bottom of StringFileInfo hold strings.
void CheckNodes(const VersionResource& resource, std::size_t first, std::size_t end, int depth, bool strings,
                bool* damaged)
{
    Node node;
    for (std::size_t at = first; ReadNode(resource, at, end, &node, damaged); at = node.next) {
        if (depth > 1) {
            bool stringTables = strings || (depth == CHECKED_DEPTH && KeyIs(resource, node, "StringFileInfo", 14));
            CheckNodes(resource, node.children, node.end, depth - 1, stringTables, damaged);
        } else if (strings && !EndsInNul(resource, node)) {
            *damaged = true;
        }
    }
}

// A string value in the ANSI code page: its characters up to its first NUL,
// at most its stated length, never past its node.
std::string TextOf(const VersionResource& resource, const Node& node)
{
    const unsigned char* begin = resource.block.data() + node.value;
    if (!resource.wide) {
        const void* nul = std::memchr(begin, 0, node.valueBytes);
        std::size_t length = nul ? static_cast<const unsigned char*>(nul) - begin : node.valueBytes;
        return std::string(reinterpret_cast<const char*>(begin), length);
    }
    std::wstring wide;
    for (std::size_t at = 0; at + 2 <= node.valueBytes; at += 2) {
        wchar_t c = static_cast<wchar_t>(Word(resource, node.value + at));
        if (c == L'\0')
            break;
        wide += c;
    }
    if (wide.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

}  // namespace

int FormatString(char* buffer, int size, const char* format, ...)
{
    LogTrace("FormatString");
    if (buffer == nullptr || size <= 0)
        return 0;
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(buffer, static_cast<std::size_t>(size), format, arguments);
    va_end(arguments);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length < size ? length : size - 1;
}

void ReadVersionResource(const char* path, VersionResource* resource)
{
    *resource = VersionResource();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return;
    resource->state = VERSION_UNREADABLE;
    // Zero-filled, so that no byte the system did not write can reach a record.
    try {
        resource->block.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!GetFileVersionInfoA(path, handle, size, resource->block.data()))
        return;
    resource->state = VERSION_READ;
    // The old 8-bit layout has its key where the UTF-16 layout has its type
    // word, which is 0 or 1.
    resource->wide = !(size > 4 && resource->block[4] >= ' ');
    // The size asked for leaves room behind the resource for the ANSI copies
    // that the system's query function makes, as much again and a 4-byte
    // signature. A root that claims more than that was not read from the file.
    resource->length = size >= 4 ? (size - 4) / 2 : 0;

    bool damaged = false;
    Node root;
    if (ReadNode(*resource, 0, resource->length, &root, &damaged)) {
        resource->length = root.end;
        CheckNodes(*resource, root.children, root.end, CHECKED_DEPTH, false, &damaged);
    } else {
        damaged = true;
    }
    resource->damaged = damaged;
    if (damaged)
        LogMessage("Damaged version resource in file '%s': only its intact parts are read", path);
}

int GetVersionInfo(const char* name, char* output, const char* path, const VersionResource& resource,
                   const char* defaultText)
{
    LogTrace("GetVersionInfo");
    if (resource.state == VERSION_NONE) {
        LogMessage("Failed to extract version information from file '%s' (section '%s')", path, name);
        CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
        return 0;
    }

    int result = 0;
    Node translation;
    if (resource.state == VERSION_READ && FindNode(resource, "\\VarFileInfo\\Translation", &translation)) {
        char probe[QUERY_BUFFER_SIZE] = {};
        char query[QUERY_BUFFER_SIZE] = {};
        // Every entry is visited; the last one whose table has a FileDescription
        // decides the result, even when an earlier one found the string.
        for (std::size_t i = 0; i < translation.valueBytes / 4; ++i) {
            unsigned language = Word(resource, translation.value + 4 * i);
            unsigned codePage = Word(resource, translation.value + 4 * i + 2);
            Node value;
            std::snprintf(probe, sizeof probe, "\\StringFileInfo\\%04x%04x\\FileDescription", language, codePage);
            if (!FindNode(resource, probe, &value))
                continue;
            std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", language, codePage, name);
            result = FindNode(resource, query, &value) ? 1 : 0;
            if (result) {
                FormatString(output, static_cast<int>(PATH_BUFFER_SIZE), "%s", TextOf(resource, value).c_str());
                LogMessage("Extracted file version from file '%s' (section '%s'): %s", path, name, output);
            }
        }
    }
    if (result)
        return result;
    CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
    return 0;
}
