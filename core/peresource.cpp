#include "peresource.h"

// The layouts, as the system's version functions read them:
// - MZ header: "MZ", and at 0x3C the offset of the new header, whose
//   signature tells "PE\0\0" or "NE".
// - PE: the file header (20 bytes), the optional header (PE32 or PE32+, told
//   by its first word) with the resource directory's RVA and size among its
//   data directories, then the section table. The resource tree has three
//   levels (type, name, language) of directories: 16 bytes, then 8-byte
//   entries, named ones first, each pointing (offset from the tree's root) to
//   a directory of the next level or, at the last level, to a 16-byte data
//   entry, whose RVA and size locate the resource. An RVA is taken in the
//   first section whose raw data holds it.
// - NE: a 64-byte header whose resource table lies between its offsets 0x24
//   and 0x26 (both counted from the header): an alignment shift, then type
//   blocks (type, count, 4 reserved bytes) each followed by `count` 12-byte
//   name entries (offset and length in units of 1 << shift, flags, id),
//   closed by a type of 0.

namespace {

constexpr std::uint32_t MAX_SECTIONS = 96;     // the most that the Windows loader accepts
constexpr std::uint32_t MAX_LANGUAGES = 1024;  // far more than any module has, few enough to read quickly
constexpr std::uint32_t MAX_NE_SHIFT = 15;
// Entries read for one file at most. The few legitimate ones of a module need
// some dozens; a crafted tree whose duplicates all lead to the same large
// directories would otherwise take hours.
constexpr std::uint32_t ENTRY_BUDGET = 65536;
constexpr std::uint16_t RT_VERSION_ID = 16;
constexpr std::uint16_t VERSION_INFO_ID = 1;
constexpr std::uint32_t DIRECTORY_BIT = 0x80000000u;

std::uint16_t Le16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t Le32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(Le16(bytes)) | static_cast<std::uint32_t>(Le16(bytes + 2)) << 16;
}

bool ReadAt(const FileBytes& file, std::uint64_t offset, void* buffer, std::size_t bytes)
{
    return offset <= file.size && bytes <= file.size - offset && file.read(file.context, offset, buffer, bytes);
}

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint32_t rawPointer;
};

struct PeModule {
    const FileBytes* file;
    Section sections[MAX_SECTIONS];
    std::uint32_t sectionCount;
    const Section* rootSection;  // the section holding the resource tree's root
    std::uint32_t rootRva;
    std::uint32_t entriesLeft;
};

const Section* SectionOf(const PeModule& module, std::uint32_t rva)
{
    for (std::uint32_t i = 0; i < module.sectionCount; ++i) {
        const Section& section = module.sections[i];
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize)
            return &section;
    }
    return nullptr;
}

// Where `bytes` bytes at `rva` of `section` lie in the file; false when they
// leave the section's raw data or the file.
bool InSection(const PeModule& module, const Section& section, std::uint64_t rva, std::uint64_t bytes,
               std::uint64_t* offset)
{
    if (rva < section.virtualAddress)
        return false;
    std::uint64_t into = rva - section.virtualAddress;
    if (into > section.rawSize || bytes > section.rawSize - into)
        return false;
    *offset = section.rawPointer + into;
    return *offset <= module.file->size && bytes <= module.file->size - *offset;
}

// Reads `bytes` bytes at `offset` from the tree's root; every part of the tree
// is reached so, and must lie in the root's section.
bool ReadTree(const PeModule& module, std::uint32_t offset, void* buffer, std::size_t bytes)
{
    std::uint64_t at = 0;
    return InSection(module, *module.rootSection, static_cast<std::uint64_t>(module.rootRva) + offset, bytes, &at) &&
           ReadAt(*module.file, at, buffer, bytes);
}

bool CheckDataEntry(const PeModule& module, std::uint32_t offset)
{
    std::uint8_t entry[16];
    if (!ReadTree(module, offset, entry, sizeof entry))
        return false;
    std::uint32_t rva = Le32(entry);
    std::uint32_t size = Le32(entry + 4);
    if (size == 0 || size > VERSION_RESOURCE_MAX_BYTES)
        return false;
    const Section* section = SectionOf(module, rva);
    std::uint64_t at = 0;
    return section != nullptr && InSection(module, *section, rva, size, &at);
}

// Checks the directory at `offset` of the tree, at `level` 0 (types), 1
// (names) or 2 (languages). On the first two levels only the entries that the
// system's search can land on are followed: every ID entry with the wanted
// id, duplicates included, since a binary search over unsorted entries may
// take any of them. On the last level the system may take any language, and
// the first entry when none fits; each one is checked.
bool CheckDirectory(PeModule& module, std::uint32_t offset, int level)
{
    std::uint8_t header[16];
    if (!ReadTree(module, offset, header, sizeof header))
        return false;
    std::uint32_t named = Le16(header + 12);
    std::uint32_t count = named + Le16(header + 14);
    if (level == 2 && count > MAX_LANGUAGES)
        return false;
    std::uint16_t wanted = level == 0 ? RT_VERSION_ID : VERSION_INFO_ID;
    for (std::uint32_t i = level == 2 ? 0 : named; i < count; ++i) {
        std::uint8_t entry[8];
        if (module.entriesLeft-- == 0 || !ReadTree(module, offset + 16 + 8 * i, entry, sizeof entry))
            return false;
        std::uint32_t target = Le32(entry + 4);
        if (level == 2) {
            if ((target & DIRECTORY_BIT) != 0 || !CheckDataEntry(module, target))
                return false;
        } else if (Le16(entry) == wanted) {
            if ((target & DIRECTORY_BIT) == 0 || !CheckDirectory(module, target & ~DIRECTORY_BIT, level + 1))
                return false;
        }
    }
    return true;
}

ResourceCheck CheckPe(const FileBytes& file, std::uint64_t header)
{
    std::uint8_t fileHeader[24];
    if (!ReadAt(file, header, fileHeader, sizeof fileHeader))
        return RESOURCE_PATH_DAMAGED;
    PeModule module = {};
    module.file = &file;
    module.entriesLeft = ENTRY_BUDGET;
    module.sectionCount = Le16(fileHeader + 6);
    std::uint32_t optionalSize = Le16(fileHeader + 20);
    std::uint8_t magic[2];
    if (!ReadAt(file, header + 24, magic, sizeof magic))
        return RESOURCE_PATH_DAMAGED;
    std::uint32_t directory = 0;
    if (Le16(magic) == 0x10B)
        directory = 112;  // PE32: the resource directory is the third data directory
    else if (Le16(magic) == 0x20B)
        directory = 128;  // PE32+
    else
        return RESOURCE_PATH_DAMAGED;
    std::uint8_t resources[8];
    if (optionalSize < directory + 8 || !ReadAt(file, header + 24 + directory, resources, sizeof resources))
        return RESOURCE_PATH_DAMAGED;
    module.rootRva = Le32(resources);
    if (module.rootRva == 0 && Le32(resources + 4) == 0)
        return RESOURCE_PATH_INTACT;  // no resources at all: nothing for the system to follow
    if (module.sectionCount > MAX_SECTIONS)
        return RESOURCE_PATH_DAMAGED;
    std::uint64_t table = header + 24 + optionalSize;
    for (std::uint32_t i = 0; i < module.sectionCount; ++i) {
        std::uint8_t section[40];
        if (!ReadAt(file, table + 40 * i, section, sizeof section))
            return RESOURCE_PATH_DAMAGED;
        module.sections[i] = {Le32(section + 12), Le32(section + 16), Le32(section + 20)};
    }
    module.rootSection = SectionOf(module, module.rootRva);
    if (module.rootSection == nullptr)
        return RESOURCE_PATH_DAMAGED;
    return CheckDirectory(module, 0, 0) ? RESOURCE_PATH_INTACT : RESOURCE_PATH_DAMAGED;
}

ResourceCheck CheckNe(const FileBytes& file, std::uint64_t header)
{
    std::uint8_t neHeader[64];
    if (!ReadAt(file, header, neHeader, sizeof neHeader))
        return RESOURCE_PATH_DAMAGED;
    std::uint32_t tableStart = Le16(neHeader + 0x24);
    std::uint32_t tableEnd = Le16(neHeader + 0x26);
    if (tableEnd == tableStart)
        return RESOURCE_PATH_INTACT;  // no resource table
    if (tableEnd < tableStart + 2)
        return RESOURCE_PATH_DAMAGED;
    const std::uint64_t table = header + tableStart;
    const std::uint32_t size = tableEnd - tableStart;
    std::uint8_t word[2];
    if (!ReadAt(file, table, word, sizeof word))
        return RESOURCE_PATH_DAMAGED;
    std::uint32_t shift = Le16(word);
    if (shift > MAX_NE_SHIFT)
        return RESOURCE_PATH_DAMAGED;
    // Every block must lie inside the table as its header gives it: the system
    // reads the table into a buffer of that size and walks it to the type 0.
    for (std::uint32_t at = 2;;) {
        std::uint8_t type[8];
        if (size - at < 2 || !ReadAt(file, table + at, type, 2))
            return RESOURCE_PATH_DAMAGED;
        if (Le16(type) == 0)
            return RESOURCE_PATH_INTACT;
        if (size - at < 8 || !ReadAt(file, table + at, type, sizeof type))
            return RESOURCE_PATH_DAMAGED;
        std::uint32_t count = Le16(type + 2);
        at += 8;
        if ((size - at) / 12 < count)
            return RESOURCE_PATH_DAMAGED;
        if (Le16(type) != (0x8000 | RT_VERSION_ID)) {
            at += 12 * count;
            continue;
        }
        for (std::uint32_t i = 0; i < count; ++i, at += 12) {
            std::uint8_t name[12];
            if (!ReadAt(file, table + at, name, sizeof name))
                return RESOURCE_PATH_DAMAGED;
            if (Le16(name + 6) != (0x8000 | VERSION_INFO_ID))
                continue;
            std::uint64_t offset = static_cast<std::uint64_t>(Le16(name)) << shift;
            std::uint64_t length = static_cast<std::uint64_t>(Le16(name + 2)) << shift;
            if (length == 0 || length > VERSION_RESOURCE_MAX_BYTES || offset > file.size ||
                length > file.size - offset)
                return RESOURCE_PATH_DAMAGED;
        }
    }
}

}  // namespace

ResourceCheck CheckVersionResourcePath(const FileBytes& file)
{
    // Bytes inside the file that cannot be read are unknown, and the system
    // would read them unchecked: a failed read inside the file is damage.
    std::uint8_t dos[64];
    if (file.size < sizeof dos)
        return RESOURCE_NOT_IN_MODULE;
    if (!ReadAt(file, 0, dos, sizeof dos))
        return RESOURCE_PATH_DAMAGED;
    if (dos[0] != 'M' || dos[1] != 'Z')
        return RESOURCE_NOT_IN_MODULE;
    // A new header outside the file is no module header at all: the system
    // finds nothing there either.
    std::uint64_t header = Le32(dos + 0x3C);
    if (header > file.size || file.size - header < 2)
        return RESOURCE_NOT_IN_MODULE;
    std::uint8_t signature[4] = {};
    if (!ReadAt(file, header, signature, 2))
        return RESOURCE_PATH_DAMAGED;
    if (signature[0] == 'N' && signature[1] == 'E')
        return CheckNe(file, header);
    if (signature[0] != 'P' || signature[1] != 'E')
        return RESOURCE_NOT_IN_MODULE;
    if (!ReadAt(file, header + 2, signature + 2, 2) || signature[2] != 0 || signature[3] != 0)
        return RESOURCE_PATH_DAMAGED;
    return CheckPe(file, header);
}
