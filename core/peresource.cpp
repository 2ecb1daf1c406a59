#include "peresource.h"

#include <cstring>

// The layouts, as the system's version functions read them:
// - MZ header: "MZ", and at 0x3C the offset of the new header, whose
//   signature tells "PE\0\0" or "NE".
// - PE: the file header (20 bytes), the optional header (PE32 or PE32+, told
//   by its first word) with the section alignment, the image size and, among
//   its data directories, the resource directory's RVA and size, then the
//   section table. The resource tree has three levels (type, name, language)
//   of directories: 16 bytes, then 8-byte entries, named ones first, each
//   pointing (offset from the tree's root) to a directory of the next level
//   or, at the last level, to a 16-byte data entry, whose RVA and size locate
//   the resource.
// - NE: a 64-byte header whose resource table lies between its offsets 0x24
//   and 0x26 (both counted from the header): an alignment shift, then type
//   blocks (type, count, 4 reserved bytes) each followed by `count` 12-byte
//   name entries (offset and length in units of 1 << shift, flags, id),
//   closed by a type of 0.
// The system reads a PE module's resource through its mapping as an image,
// while other readers (older releases, Wine, tools) translate an RVA through
// the section table of the raw file. The check accepts only the layouts where
// both give the same bytes, and where mapping the file costs little; see
// ReadSections for each rule.

namespace {

constexpr std::uint32_t MAX_SECTIONS = 96;  // the most that the Windows loader accepts
// Of Wine's system files the one with the most has 36 languages of its
// version resource, and none reads more than some 50 entries on the whole way
// (13 types at most). The limits leave real modules room almost twice over
// for languages and five times for entries, and hold a crafted tree (ids
// repeated so that every copy leads to the same large directories) to a few
// hundred steps.
constexpr std::uint32_t MAX_LANGUAGES = 64;
constexpr std::uint32_t ENTRY_BUDGET = 256;
constexpr std::uint32_t MAX_NE_SHIFT = 15;
constexpr std::uint32_t WINDOW_COUNT = 8;
// The loader takes a section's file offset rounded down to this unit.
constexpr std::uint32_t RAW_OFFSET_UNIT = 0x200;
// A section alignment below a page makes the loader map the file flat.
constexpr std::uint32_t PAGE_BYTES = 0x1000;
// What the image may hold beyond the file's own bytes: the system zero-fills
// it when it maps the module (Wine even twice), so 4 GiB of it take seconds.
// The most among Wine's system files is 185 KB; a program with a larger
// static buffer than this loses its description.
constexpr std::uint64_t IMAGE_FILL_MAX_BYTES = 64u << 20;
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

// The file as the check sees it: aligned windows, the last few used kept, and
// a fixed number of reads for the whole check. A real module needs one window
// for its headers and a few for its tree, whose directories lie together
// before the data; an NE resource table (64 KiB at most) takes 17. A file
// that needs more spreads its entries apart on purpose, to cost a read each.
struct FileReader {
    const FileBytes* file;
    ResourceFacts facts;  // of the version resources the system could take
    std::uint32_t readsLeft;
    std::uint32_t uses;
    std::uint64_t start[WINDOW_COUNT];
    std::uint32_t bytes[WINDOW_COUNT];  // 0: the slot holds nothing
    std::uint32_t lastUse[WINDOW_COUNT];
    std::uint8_t data[WINDOW_COUNT][VERSION_CHECK_WINDOW_BYTES];
};

// The slot that holds the window starting at `start`, read into the least
// recently used slot when none does; false when the budget is spent or the
// read fails.
bool FetchWindow(FileReader& reader, std::uint64_t start, std::uint32_t* slot)
{
    std::uint32_t oldest = 0;
    for (std::uint32_t i = 0; i < WINDOW_COUNT; ++i) {
        if (reader.bytes[i] != 0 && reader.start[i] == start) {
            *slot = i;
            return true;
        }
        if (reader.lastUse[i] < reader.lastUse[oldest])
            oldest = i;
    }
    if (reader.readsLeft == 0)
        return false;
    --reader.readsLeft;
    const FileBytes& file = *reader.file;
    std::uint64_t room = file.size - start;
    std::uint32_t bytes = room < VERSION_CHECK_WINDOW_BYTES ? static_cast<std::uint32_t>(room)
                                                            : VERSION_CHECK_WINDOW_BYTES;
    reader.bytes[oldest] = 0;
    if (!file.read(file.context, start, reader.data[oldest], bytes))
        return false;
    reader.start[oldest] = start;
    reader.bytes[oldest] = bytes;
    *slot = oldest;
    return true;
}

bool ReadAt(FileReader& reader, std::uint64_t offset, void* buffer, std::size_t bytes)
{
    if (offset > reader.file->size || bytes > reader.file->size - offset)
        return false;
    std::uint8_t* out = static_cast<std::uint8_t*>(buffer);
    while (bytes > 0) {
        std::uint64_t start = offset - offset % VERSION_CHECK_WINDOW_BYTES;
        std::uint32_t slot = 0;
        if (!FetchWindow(reader, start, &slot))
            return false;
        reader.lastUse[slot] = ++reader.uses;
        std::size_t from = static_cast<std::size_t>(offset - start);
        std::size_t count = reader.bytes[slot] - from < bytes ? reader.bytes[slot] - from : bytes;
        std::memcpy(out, reader.data[slot] + from, count);
        out += count;
        offset += count;
        bytes -= count;
    }
    return true;
}

constexpr char16_t CONFIGURATION_TYPE[] = u"MUI";

void NoteResourceSize(ResourceFacts& sizes, std::uint32_t size)
{
    if (size > sizes.largest)
        sizes.largest = size;
    if (sizes.smallest == 0 || size < sizes.smallest)
        sizes.smallest = size;
}

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t mappedSize;  // the bytes of the image that come from the file
    std::uint32_t rawPointer;
};

struct PeModule {
    FileReader* reader;
    Section sections[MAX_SECTIONS];
    std::uint32_t sectionCount;
    const Section* rootSection;  // the section holding the resource tree's root
    std::uint32_t rootRva;
    std::uint32_t entriesLeft;
};

// The section that maps `rva` from the file. Sections never overlap (see
// ReadSections), so at most one does.
const Section* SectionOf(const PeModule& module, std::uint32_t rva)
{
    for (std::uint32_t i = 0; i < module.sectionCount; ++i) {
        const Section& section = module.sections[i];
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.mappedSize)
            return &section;
    }
    return nullptr;
}

// Where `bytes` bytes at `rva` of `section` lie in the file; false when they
// leave the section's mapped part or the file.
bool InSection(const PeModule& module, const Section& section, std::uint64_t rva, std::uint64_t bytes,
               std::uint64_t* offset)
{
    if (rva < section.virtualAddress)
        return false;
    std::uint64_t into = rva - section.virtualAddress;
    if (into > section.mappedSize || bytes > section.mappedSize - into)
        return false;
    *offset = section.rawPointer + into;
    const std::uint64_t size = module.reader->file->size;
    return *offset <= size && bytes <= size - *offset;
}

std::uint64_t AlignUp(std::uint64_t value, std::uint32_t alignment)
{
    return (value + alignment - 1) & ~static_cast<std::uint64_t>(alignment - 1);
}

// Reads the section table and lays the sections out as the image mapping
// does. Each rule keeps the file to what both the mapping and a reader of the
// raw file see alike; a file that breaks one is refused, since what the
// system's reader makes of it is not known.
bool ReadSections(PeModule& module, std::uint64_t table, std::uint32_t alignment, std::uint64_t imageSize)
{
    // The loader refuses an alignment that is not a power of two.
    if (alignment == 0 || (alignment & (alignment - 1)) != 0)
        return false;
    const bool flat = alignment < PAGE_BYTES;
    std::uint64_t ends[MAX_SECTIONS];
    for (std::uint32_t i = 0; i < module.sectionCount; ++i) {
        std::uint8_t header[40];
        if (!ReadAt(*module.reader, table + 40 * i, header, sizeof header))
            return false;
        const std::uint32_t virtualSize = Le32(header + 8), va = Le32(header + 12);
        const std::uint32_t rawSize = Le32(header + 16), rawPointer = Le32(header + 20);
        // The loader reads a section from its file offset rounded down to
        // 0x200, a reader of the raw file from the offset as it stands: only
        // an aligned offset means the same bytes to both.
        if (rawSize != 0 && rawPointer % RAW_OFFSET_UNIT != 0)
            return false;
        // Flat, every RVA is the file offset of the same number, whatever
        // the section table says; it agrees only when each section lies at
        // its own RVA.
        if (flat && rawSize != 0 && rawPointer != va)
            return false;
        if (va % alignment != 0)
            return false;  // the loader refuses a section off its alignment
        // The virtual size (the raw size where it is 0) is what the section
        // takes of the image, zero-filled past the raw data; it must end
        // within the image size, which the caller has bounded. Of the raw
        // data only the part within the virtual size is mapped: resource
        // bytes in the raw tail past it are not in the image at all.
        const std::uint64_t extent = virtualSize != 0 ? virtualSize : rawSize;
        if (va + extent > imageSize)
            return false;
        const std::uint32_t mapped = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
        // A later section mapped over an earlier one replaces its pages,
        // while a reader of the raw file takes the first section that holds
        // an RVA: sections must not overlap, neither in the pages they take
        // nor in their raw data.
        const std::uint64_t pages = AlignUp(extent, alignment);
        const std::uint64_t end = va + (pages > rawSize ? pages : rawSize);
        for (std::uint32_t j = 0; j < i; ++j) {
            if (va < ends[j] && module.sections[j].virtualAddress < end && end > va &&
                ends[j] > module.sections[j].virtualAddress)
                return false;
        }
        ends[i] = end;
        module.sections[i] = {va, mapped, rawPointer};
    }
    return true;
}

// Reads `bytes` bytes at `offset` from the tree's root; every part of the tree
// is reached so, and must lie in the root's section.
bool ReadTree(const PeModule& module, std::uint32_t offset, void* buffer, std::size_t bytes)
{
    std::uint64_t at = 0;
    return InSection(module, *module.rootSection, static_cast<std::uint64_t>(module.rootRva) + offset, bytes, &at) &&
           ReadAt(*module.reader, at, buffer, bytes);
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
    NoteResourceSize(module.reader->facts, size);
    const Section* section = SectionOf(module, rva);
    std::uint64_t at = 0;
    if (section == nullptr || !InSection(module, *section, rva, size, &at))
        return false;
    ++module.reader->facts.count;
    module.reader->facts.offset = at;
    return true;
}

// Looks for the type "MUI" among the `named` entries of the type directory
// at `offset`: each name is a 16-bit length and as many UTF-16 units, which
// the loader compares without regard to case. False when a name lies outside.
bool FindConfiguration(PeModule& module, std::uint32_t offset, std::uint32_t named)
{
    const std::uint32_t length = sizeof CONFIGURATION_TYPE / sizeof CONFIGURATION_TYPE[0] - 1;
    for (std::uint32_t i = 0; i < named && !module.reader->facts.languageNeutral; ++i) {
        std::uint8_t entry[8], name[2 + 2 * length];
        if (module.entriesLeft-- == 0 || !ReadTree(module, offset + 16 + 8 * i, entry, sizeof entry))
            return false;
        const std::uint32_t at = Le32(entry) & ~DIRECTORY_BIT;
        if (!ReadTree(module, at, name, 2))
            return false;
        if (Le16(name) != length)
            continue;
        if (!ReadTree(module, at, name, sizeof name))
            return false;
        bool same = true;
        for (std::uint32_t unit = 0; unit < length; ++unit) {
            std::uint16_t c = Le16(name + 2 + 2 * unit);
            same = same && (c == CONFIGURATION_TYPE[unit] || c == CONFIGURATION_TYPE[unit] + ('a' - 'A'));
        }
        module.reader->facts.languageNeutral = same;
    }
    return true;
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
    if (level == 0 && !FindConfiguration(module, offset, named))
        return false;
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

ResourceCheck CheckPe(FileReader& reader, std::uint64_t header)
{
    std::uint8_t fileHeader[24];
    if (!ReadAt(reader, header, fileHeader, sizeof fileHeader))
        return RESOURCE_PATH_DAMAGED;
    PeModule module = {};
    module.reader = &reader;
    module.entriesLeft = ENTRY_BUDGET;
    module.sectionCount = Le16(fileHeader + 6);
    std::uint32_t optionalSize = Le16(fileHeader + 20);
    std::uint8_t optional[64];
    if (!ReadAt(reader, header + 24, optional, 2))
        return RESOURCE_PATH_DAMAGED;
    std::uint32_t directory = 0;
    if (Le16(optional) == 0x10B)
        directory = 112;  // PE32: the resource directory is the third data directory
    else if (Le16(optional) == 0x20B)
        directory = 128;  // PE32+
    else
        return RESOURCE_PATH_DAMAGED;
    std::uint8_t resources[8];
    if (optionalSize < directory + 8 || !ReadAt(reader, header + 24, optional, sizeof optional) ||
        !ReadAt(reader, header + 24 + directory, resources, sizeof resources))
        return RESOURCE_PATH_DAMAGED;
    module.rootRva = Le32(resources);
    if (module.rootRva == 0 && Le32(resources + 4) == 0)
        return RESOURCE_PATH_INTACT;  // no resources at all: nothing for the system to follow
    const std::uint64_t imageSize = Le32(optional + 56);
    if (module.sectionCount > MAX_SECTIONS || imageSize > reader.file->size + IMAGE_FILL_MAX_BYTES ||
        !ReadSections(module, header + 24 + optionalSize, Le32(optional + 32), imageSize))
        return RESOURCE_PATH_DAMAGED;
    module.rootSection = SectionOf(module, module.rootRva);
    if (module.rootSection == nullptr)
        return RESOURCE_PATH_DAMAGED;
    if (!CheckDirectory(module, 0, 0))
        return RESOURCE_PATH_DAMAGED;
    ResourceFacts& facts = reader.facts;
    facts.located = facts.count == 1 && !facts.languageNeutral;
    facts.offset = facts.located ? facts.offset : 0;
    return RESOURCE_PATH_INTACT;
}

ResourceCheck CheckNe(FileReader& file, std::uint64_t header)
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
            if (length == 0 || length > VERSION_RESOURCE_MAX_BYTES || offset > file.file->size ||
                length > file.file->size - offset)
                return RESOURCE_PATH_DAMAGED;
            NoteResourceSize(file.facts, static_cast<std::uint32_t>(length));
            ++file.facts.count;
        }
    }
}

ResourceCheck CheckModule(const FileBytes& file, FileReader& reader)
{
    reader.file = &file;
    reader.readsLeft = VERSION_CHECK_READ_BUDGET;
    // Bytes inside the file that cannot be read are unknown, and the system
    // would read them unchecked: a failed read inside the file is damage.
    std::uint8_t dos[64];
    if (file.size < sizeof dos)
        return RESOURCE_NOT_IN_MODULE;
    if (!ReadAt(reader, 0, dos, sizeof dos))
        return RESOURCE_PATH_DAMAGED;
    if (dos[0] != 'M' || dos[1] != 'Z')
        return RESOURCE_NOT_IN_MODULE;
    // A new header outside the file is no module header at all: the system
    // finds nothing there either.
    std::uint64_t header = Le32(dos + 0x3C);
    if (header > file.size || file.size - header < 2)
        return RESOURCE_NOT_IN_MODULE;
    std::uint8_t signature[4] = {};
    if (!ReadAt(reader, header, signature, 2))
        return RESOURCE_PATH_DAMAGED;
    if (signature[0] == 'N' && signature[1] == 'E')
        return CheckNe(reader, header);
    if (signature[0] != 'P' || signature[1] != 'E')
        return RESOURCE_NOT_IN_MODULE;
    if (!ReadAt(reader, header + 2, signature + 2, 2) || signature[2] != 0 || signature[3] != 0)
        return RESOURCE_PATH_DAMAGED;
    return CheckPe(reader, header);
}

}  // namespace

ResourceCheck CheckVersionResourcePath(const FileBytes& file, ResourceFacts* facts)
{
    FileReader reader = {};
    ResourceCheck check = CheckModule(file, reader);
    if (facts != nullptr)
        *facts = check == RESOURCE_PATH_INTACT ? reader.facts : ResourceFacts();
    return check;
}

void AddLanguageFile(LanguageFiles& files, bool opened, ResourceCheck check, const ResourceFacts& facts)
{
    if (++files.count > LANGUAGE_FILES_MAX || !opened || check == RESOURCE_PATH_DAMAGED) {
        files.damaged = true;
        return;
    }
    if (check == RESOURCE_PATH_INTACT && facts.largest != 0) {
        NoteResourceSize(files.facts, facts.largest);
        NoteResourceSize(files.facts, facts.smallest);
    }
}
