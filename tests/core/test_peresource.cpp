// The PE check's model of the image mapping, on a module built here: one
// resource section at `va` whose tree leads to `languages` data entries
// `stride` bytes apart, then the version resource itself.
#include "peresource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
}

constexpr std::size_t OPTIONAL = 0x58, SECTION = 0x148, RAW = 0x200;

Bytes Module(std::uint32_t languages, std::uint32_t stride, std::uint32_t va)
{
    const std::uint32_t resource = 0x280 + stride * languages, raw = (resource + 0x40 + 0x1FF) & ~0x1FFu;
    Bytes b(RAW + raw);
    b[0] = 'M', b[1] = 'Z', b[0x3C] = 0x40, b[0x40] = 'P', b[0x41] = 'E', b[0x46] = 1, b[0x54] = 0xF0;
    b[OPTIONAL] = 0x0B, b[OPTIONAL + 1] = 0x02;
    const std::uint32_t optional[][2] = {{32, va < 0x1000 ? va : 0x1000}, {36, 0x200}, {56, (va + raw + 0xFFF) & ~0xFFFu},
                                         {128, va}, {132, raw}};
    for (const auto& field : optional)
        Put32(b, OPTIONAL + field[0], field[1]);
    const std::uint32_t section[] = {raw, va, raw, RAW};
    for (std::size_t i = 0; i < 4; ++i)
        Put32(b, SECTION + 8 + 4 * i, section[i]);
    const std::uint32_t tree[][2] = {{14, 1}, {16, 16}, {20, 0x80000018}, {0x18 + 14, 1}, {0x28, 1}, {0x2C, 0x80000030},
                                     {0x30 + 14, languages}};
    for (const auto& field : tree)
        Put32(b, RAW + field[0], field[1]);
    for (std::uint32_t i = 0; i < languages; ++i) {
        Put32(b, RAW + 0x44 + 8 * i, 0x280 + stride * i);
        Put32(b, RAW + 0x280 + stride * i, va + resource), Put32(b, RAW + 0x284 + stride * i, 0x40);
    }
    return b;
}

struct Counted {
    const Bytes* bytes;
    std::uint32_t reads;
};

ResourceCheck Check(const Bytes& bytes, std::uint32_t* reads)
{
    Counted counted = {&bytes, 0};
    FileBytes file;
    file.size = bytes.size();
    file.context = &counted;
    file.read = [](void* context, std::uint64_t offset, void* buffer, std::size_t size) {
        Counted* c = static_cast<Counted*>(context);
        ++c->reads;
        std::memcpy(buffer, c->bytes->data() + offset, size);
        return true;
    };
    ResourceCheck check = CheckVersionResourcePath(file);
    *reads = counted.reads;
    return check;
}

}  // namespace

TEST(PeResource, ImageLayouts)
{
    const struct {
        const char* what;
        std::uint32_t languages, stride, va;
        void (*change)(Bytes& b);
        ResourceCheck expected;
    } rows[] = {
        {"intact", 1, 16, 0x1000, [](Bytes&) {}, RESOURCE_PATH_INTACT},
        {"64 languages", 64, 16, 0x1000, [](Bytes&) {}, RESOURCE_PATH_INTACT},
        {"65 languages", 65, 16, 0x1000, [](Bytes&) {}, RESOURCE_PATH_DAMAGED},
        {"40 data entries 4 KiB apart: past the read budget", 40, 4096, 0x1000, [](Bytes&) {}, RESOURCE_PATH_DAMAGED},
        {"raw offset off 0x200", 1, 16, 0x1000,
         [](Bytes& b) { b.insert(b.begin() + RAW, 8, 0), Put32(b, SECTION + 20, RAW + 8); }, RESOURCE_PATH_DAMAGED},
        {"virtual size ends at the resource's end", 1, 16, 0x1000, [](Bytes& b) { Put32(b, SECTION + 8, 0x2D0); },
         RESOURCE_PATH_INTACT},
        {"virtual size cuts the resource", 1, 16, 0x1000, [](Bytes& b) { Put32(b, SECTION + 8, 0x2CF); },
         RESOURCE_PATH_DAMAGED},
        {"a second section over the first", 1, 16, 0x1000,
         [](Bytes& b) { b[0x46] = 2, std::memcpy(&b[SECTION + 40], &b[SECTION], 40); },
         RESOURCE_PATH_DAMAGED},
        {"flat, each section at its own RVA", 1, 16, 0x200, [](Bytes&) {}, RESOURCE_PATH_INTACT},
        {"flat, the section elsewhere", 1, 16, 0x1000, [](Bytes& b) { Put32(b, OPTIONAL + 32, 0x200); },
         RESOURCE_PATH_DAMAGED},
        {"section past the image size", 1, 16, 0x1000, [](Bytes& b) { Put32(b, OPTIONAL + 56, 0x1200); },
         RESOURCE_PATH_DAMAGED},
        {"image 64 MiB larger than the file", 1, 16, 0x1000,
         [](Bytes& b) { Put32(b, OPTIONAL + 56, static_cast<std::uint32_t>(b.size() + (64u << 20) + 1)); },
         RESOURCE_PATH_DAMAGED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes bytes = Module(row.languages, row.stride, row.va);
        row.change(bytes);
        std::uint32_t reads = 0;
        EXPECT_EQ(Check(bytes, &reads), row.expected);
        EXPECT_LE(reads, row.stride < 4096 ? 2u : VERSION_CHECK_READ_BUDGET);
    }
}
