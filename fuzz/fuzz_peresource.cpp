// The PE/NE check: it reads only inside the file, in whole windows and a
// bounded number of them, gives the same verdict twice, and a file it passes
// is one whose way to the version resource, as the system's version functions
// follow it (a binary search for each id, the first language when none is
// preferred), lies inside the file with a resource of 1 byte to 64 KiB, the
// same bytes whether an RVA is read through the image mapping or through the
// first section of the raw file that holds it.
#include "fuzzcheck.h"
#include "peresource.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct File {
    std::vector<std::uint8_t> bytes;
    std::uint64_t read = 0;
    bool failing = false;  // every read fails, as on a disk error
};

bool ReadFromFile(void* context, std::uint64_t offset, void* buffer, std::size_t bytes)
{
    File* file = static_cast<File*>(context);
    FUZZ_CHECK(offset <= file->bytes.size() && bytes <= file->bytes.size() - offset);
    FUZZ_CHECK(offset % VERSION_CHECK_WINDOW_BYTES == 0 && bytes <= VERSION_CHECK_WINDOW_BYTES);
    file->read += bytes;
    std::memcpy(buffer, file->bytes.data() + offset, bytes);
    return !file->failing;
}

std::uint32_t Get(const File& file, std::uint64_t at, int bytes)
{
    FUZZ_CHECK(at <= file.bytes.size() && static_cast<std::uint64_t>(bytes) <= file.bytes.size() - at);
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | file.bytes[at + i];
    return value;
}

// The file offset of `rva` by the first section whose raw data holds it, as a
// reader of the raw file finds it.
bool TranslateRaw(const File& file, std::uint64_t table, std::uint32_t sections, std::uint32_t rva,
                  std::uint64_t* at, std::uint64_t* room)
{
    for (std::uint32_t i = 0; i < sections; ++i) {
        std::uint32_t va = Get(file, table + 40 * i + 12, 4), raw = Get(file, table + 40 * i + 16, 4);
        if (rva >= va && rva - va < raw) {
            *at = Get(file, table + 40 * i + 20, 4) + static_cast<std::uint64_t>(rva - va);
            *room = raw - (rva - va);
            return true;
        }
    }
    return false;
}

// The file offset of `rva` in the image the loader maps: flat below a page's
// alignment, cut at the image size; else the last section whose pages hold it
// (a later one mapped over an earlier), from its offset rounded down to 0x200,
// and only inside the raw data within the virtual size (the rest is zeros).
bool TranslateImage(const File& file, std::uint64_t optional, std::uint64_t table, std::uint32_t sections,
                    std::uint32_t rva, std::uint64_t* at, std::uint64_t* room)
{
    const std::uint64_t alignment = Get(file, optional + 32, 4), image = Get(file, optional + 56, 4);
    if (alignment < 0x1000) {
        const std::uint64_t end = image < file.bytes.size() ? image : file.bytes.size();
        *at = rva;
        *room = rva < end ? end - rva : 0;
        return rva < end;
    }
    bool found = false;
    for (std::uint32_t i = 0; i < sections; ++i) {
        const std::uint64_t header = table + 40 * i;
        std::uint64_t virtualSize = Get(file, header + 8, 4), va = Get(file, header + 12, 4);
        const std::uint64_t raw = Get(file, header + 16, 4);
        virtualSize = virtualSize != 0 ? virtualSize : raw;
        if (rva < va || rva - va >= ((virtualSize + alignment - 1) & ~(alignment - 1)))
            continue;
        const std::uint64_t mapped = virtualSize < raw ? virtualSize : raw;
        found = rva - va < mapped;
        *at = (Get(file, header + 20, 4) & ~0x1FFu) + (rva - va);
        *room = found ? mapped - (rva - va) : 0;
    }
    return found;
}

// Both ways to the file offset of `rva` agree; the room is what both leave.
bool Translate(const File& file, std::uint64_t optional, std::uint64_t table, std::uint32_t sections,
               std::uint32_t rva, std::uint64_t* at, std::uint64_t* room)
{
    std::uint64_t imageAt = 0, imageRoom = 0;
    if (!TranslateRaw(file, table, sections, rva, at, room) ||
        !TranslateImage(file, optional, table, sections, rva, &imageAt, &imageRoom))
        return false;
    FUZZ_CHECK(imageAt == *at);
    *room = imageRoom < *room ? imageRoom : *room;
    return true;
}

// Reads of the resource tree, which the system makes inside the section that
// holds the tree's root.
struct Tree {
    const File& file;
    std::uint64_t root, room;
    std::uint32_t Get(std::uint64_t at, int bytes) const
    {
        FUZZ_CHECK(at >= root && at - root <= room && static_cast<std::uint64_t>(bytes) <= room - (at - root));
        return ::Get(file, at, bytes);
    }
};

// The directory that an id search lands on, as a binary search over the ID entries.
bool FindById(const Tree& tree, std::uint64_t directory, std::uint16_t id, std::uint64_t* next)
{
    int low = static_cast<int>(tree.Get(directory + 12, 2));
    int high = low + static_cast<int>(tree.Get(directory + 14, 2)) - 1;
    while (low <= high) {
        int middle = (low + high) / 2;
        std::uint64_t entry = directory + 16 + 8 * static_cast<std::uint64_t>(middle);
        std::uint16_t found = static_cast<std::uint16_t>(tree.Get(entry, 2));
        if (found == id) {
            *next = tree.root + (tree.Get(entry + 4, 4) & 0x7FFFFFFF);
            return true;
        }
        if (found > id)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return false;
}

// Follows the file's way as the system does, and where that ends at a
// version resource, checks that the check located that one, if any.
void FollowAsTheSystem(const File& file, const ResourceFacts& facts)
{
    std::uint64_t header = Get(file, 0x3C, 4);
    if (Get(file, header, 2) == ('N' | 'E' << 8)) {
        std::uint32_t start = Get(file, header + 0x24, 2), end = Get(file, header + 0x26, 2);
        if (start == end)
            return;
        std::uint64_t table = header + start, at = table + 2;
        std::uint32_t shift = Get(file, table, 2);
        FUZZ_CHECK(shift < 32);
        const std::uint64_t tableEnd = table + (end - start);
        for (;; at += 8 + 12 * static_cast<std::uint64_t>(Get(file, at + 2, 2))) {
            FUZZ_CHECK(at + 2 <= tableEnd);
            std::uint32_t type = Get(file, at, 2);
            if (type == 0)
                return;
            std::uint32_t count = Get(file, at + 2, 2);
            FUZZ_CHECK(at + 8 + 12 * static_cast<std::uint64_t>(count) <= tableEnd);
            if (type != 0x8010)
                continue;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint64_t name = at + 8 + 12 * i;
                if (Get(file, name + 6, 2) == 0x8001) {
                    std::uint64_t length = static_cast<std::uint64_t>(Get(file, name + 2, 2)) << shift;
                    FUZZ_CHECK(length >= 1 && length <= VERSION_RESOURCE_MAX_BYTES);
                    Get(file, (static_cast<std::uint64_t>(Get(file, name, 2)) << shift) + length - 1, 1);
                    return;
                }
            }
            return;
        }
    }
    std::uint32_t optionalSize = Get(file, header + 20, 2), sections = Get(file, header + 6, 2);
    const std::uint64_t optional = header + 24;
    std::uint64_t directory = optional + (Get(file, optional, 2) == 0x10B ? 112 : 128);
    std::uint32_t rva = Get(file, directory, 4);
    if (rva == 0 && Get(file, directory + 4, 4) == 0)
        return;
    std::uint64_t table = header + 24 + optionalSize, root = 0, room = 0, level = 0, language = 0;
    FUZZ_CHECK(Translate(file, optional, table, sections, rva, &root, &room));
    const Tree tree = {file, root, room};
    if (!FindById(tree, root, 16, &level) || !FindById(tree, level, 1, &language))
        return;
    if (tree.Get(language + 12, 2) + tree.Get(language + 14, 2) == 0)
        return;
    std::uint64_t entry = root + (tree.Get(language + 16 + 4, 4) & 0x7FFFFFFF);
    std::uint32_t size = tree.Get(entry + 4, 4);
    std::uint64_t data = 0;
    FUZZ_CHECK(size >= 1 && size <= VERSION_RESOURCE_MAX_BYTES);
    FUZZ_CHECK(Translate(file, optional, table, sections, tree.Get(entry, 4), &data, &room) && size <= room);
    Get(file, data + size - 1, 1);
    FUZZ_CHECK(!facts.located || (facts.offset == data && facts.smallest == size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    File file;
    file.bytes.assign(data, data + size);
    FileBytes bytes;
    bytes.size = size;
    bytes.read = ReadFromFile;
    bytes.context = &file;
    ResourceFacts facts;
    ResourceCheck check = CheckVersionResourcePath(bytes, &facts);
    FUZZ_CHECK(facts.smallest <= facts.largest && (facts.smallest == 0) == (facts.largest == 0));
    FUZZ_CHECK(facts.largest <= VERSION_RESOURCE_MAX_BYTES);
    // A bounded number of bytes whatever the file.
    FUZZ_CHECK(file.read <= VERSION_CHECK_READ_BUDGET * VERSION_CHECK_WINDOW_BYTES);
    FUZZ_CHECK(CheckVersionResourcePath(bytes) == check);
    if (check == RESOURCE_PATH_INTACT)
        FollowAsTheSystem(file, facts);
    FUZZ_CHECK(!facts.located || (check == RESOURCE_PATH_INTACT && facts.count == 1 && !facts.languageNeutral));
    // A file whose bytes cannot be read is damaged, never passed to the system.
    file.failing = true;
    FUZZ_CHECK(CheckVersionResourcePath(bytes) == (size < 64 ? RESOURCE_NOT_IN_MODULE : RESOURCE_PATH_DAMAGED));
    return 0;
}
