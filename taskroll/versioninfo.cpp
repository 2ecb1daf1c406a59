#include "versioninfo.h"

#include "debuglog.h"
#include "handles.h"
#include "peresource.h"
#include "settings.h"
#include "text.h"
#include "versiontree.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// The tree walk and the string selection are the core's (versiontree.h), the
// check of the file's headers too (peresource.h); this side reads the file
// and converts what they find into the ANSI code page.

namespace {

// What GetFileVersionInfoSizeA asks for a resource of 64 KiB at most: room for
// the resource, for the ANSI copies that the query function makes of an old
// 8-bit resource's texts, and a signature. A larger answer was not read from
// a file that passed the check.
constexpr DWORD VERSION_BLOCK_MAX_BYTES = 4 * VERSION_RESOURCE_MAX_BYTES + 4;

// The check's reads: it asks for whole windows of the file, a fixed number of
// them (peresource.h), and keeps them itself.
struct FileWindow {
    HANDLE file = INVALID_HANDLE_VALUE;
};

bool ReadWindowed(void* context, std::uint64_t offset, void* buffer, std::size_t bytes)
{
    FileWindow* window = static_cast<FileWindow*>(context);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return bytes <= VERSION_CHECK_WINDOW_BYTES &&
           ReadFile(window->file, buffer, static_cast<DWORD>(bytes), &read, &at) && read == bytes;
}

VersionTree TreeOf(const VersionResource& resource)
{
    VersionTree tree;
    tree.bytes = resource.block.data();
    tree.length = resource.length;
    tree.wide = resource.wide;
    return tree;
}

// A string value in the ANSI code page: its characters up to its first NUL,
// at most its stated length, never past its node.
std::string TextOf(const VersionTree& tree, const std::uint8_t* value, std::size_t valueBytes)
{
    std::size_t units = VersionTextUnits(tree, value, valueBytes);
    if (!tree.wide)
        return std::string(reinterpret_cast<const char*>(value), units);
    std::wstring wide(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        wide[i] = static_cast<wchar_t>(VersionTextUnit(tree, value, i));
    if (wide.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

struct Extraction {
    const VersionTree* tree;
    const char* path;
    const char* name;
    char* output;
};

// Copies a string that the selection found into the output and logs it. The
// output keeps 259 bytes at most, cut before a double-byte character that
// would not fit whole: a lone lead byte would take the record's '$' or line
// end as its second half.
void CopyFoundString(void* context, const std::uint8_t* value, std::size_t valueBytes)
{
    const Extraction* extraction = static_cast<const Extraction*>(context);
    std::string text = TextOf(*extraction->tree, value, valueBytes);
    std::size_t kept = CutOnCharacter(text.data(), text.size(), PATH_BUFFER_SIZE - 1, AnsiLeadBytes());
    FormatString(extraction->output, static_cast<int>(PATH_BUFFER_SIZE), "%.*s", static_cast<int>(kept),
                 text.c_str());
    LogMessage("Extracted file version from file '%s' (section '%s'): %s", extraction->path, extraction->name,
               extraction->output);
}

// The resource as the system reads it from a file that passed the check.
void ReadCheckedResource(const char* path, VersionResource* resource)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return;
    resource->state = VERSION_UNREADABLE;
    if (size > VERSION_BLOCK_MAX_BYTES) {
        resource->state = VERSION_READ;
        resource->damaged = true;
        return;
    }
    // Zero-filled, so that no byte the system did not write can reach a record.
    // Every failure to get the block (out of memory, a length past the
    // largest vector) leaves the resource unreadable.
    try {
        resource->block.assign(size, 0);
    } catch (...) {
        return;
    }
    if (!GetFileVersionInfoA(path, handle, size, resource->block.data()))
        return;
    resource->state = VERSION_READ;
    VersionTree tree;
    resource->damaged = CheckVersionTree(resource->block.data(), size, &tree);
    resource->length = tree.length;
    resource->wide = tree.wide;
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
    // The file stays open, shared for reading only, until the system has read
    // it: between the check and the read nobody can write to it, delete it or
    // rename another file over it. (Renaming a directory above it is not
    // prevented; the window for that is the few microseconds between the two
    // opens.) A file that cannot be opened so (its reading is refused, or
    // someone holds it open for writing) is not given to the system: no
    // resource is read from it.
    handles::FileHandle held(
        CreateFileA(path, FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held)
        return;
    FileWindow window;
    window.file = held.Get();
    LARGE_INTEGER size = {};
    bool sized = GetFileSizeEx(window.file, &size) != 0;
    FileBytes file;
    file.size = static_cast<std::uint64_t>(size.QuadPart);
    file.read = ReadWindowed;
    file.context = &window;
    if (!sized || CheckVersionResourcePath(file) == RESOURCE_PATH_DAMAGED) {
        // Nothing of it reaches the system: the default texts stand.
        resource->state = VERSION_READ;
        resource->damaged = true;
    } else {
        ReadCheckedResource(path, resource);
    }
    held.Reset();
    if (resource->damaged)
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
    if (resource.state == VERSION_READ) {
        const VersionTree tree = TreeOf(resource);
        Extraction extraction = {&tree, path, name, output};
        result = SelectVersionString(tree, name, CopyFoundString, &extraction) ? 1 : 0;
    }
    if (result)
        return result;
    CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
    return 0;
}
