// The PE check over the fuzz seeds: real modules pass within a couple of
// reads; layouts whose image differs from the raw file, and a tree whose data
// entries lie 4 KiB apart (within the language limit), are refused, the
// latter once the read budget is spent.
#include "peresource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

TEST(PeResource, SeedLayouts)
{
    const std::string source = __FILE__, seeds = source.substr(0, source.rfind("tests")) + "fuzz/corpus/peresource/";
    const struct {
        const char* name;
        ResourceCheck expected;
        std::uint32_t reads;
        bool located;  // one version resource, whose place the check gives
    } rows[] = {{"fx_order1_x64.exe", RESOURCE_PATH_INTACT, 2, true},
                {"syswow64_lz32.dll", RESOURCE_PATH_INTACT, 2, true},
                {"offset_off_unit.exe", RESOURCE_PATH_DAMAGED, 1, false},
                {"section_over_resources.exe", RESOURCE_PATH_DAMAGED, 1, false},
                {"spread_entries.exe", RESOURCE_PATH_DAMAGED, VERSION_CHECK_READ_BUDGET, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::ifstream in(seeds + row.name, std::ios::binary);
        struct Read {
            std::string bytes;
            std::uint32_t count;
        } read = {std::string(std::istreambuf_iterator<char>(in), {}), 0};
        ASSERT_FALSE(read.bytes.empty());
        FileBytes file{read.bytes.size(), [](void* context, std::uint64_t at, void* out, std::size_t bytes) {
                           Read* r = static_cast<Read*>(context);
                           return ++r->count, std::memcpy(out, r->bytes.data() + at, bytes) != nullptr;
                       }, &read};
        ResourceFacts sizes;
        EXPECT_EQ(CheckVersionResourcePath(file, &sizes), row.expected);
        EXPECT_EQ(sizes.smallest != 0, row.expected == RESOURCE_PATH_INTACT);
        EXPECT_LE(sizes.smallest, sizes.largest);
        EXPECT_EQ(read.count, row.reads);
        ASSERT_EQ(sizes.located, row.located);
        if (row.located) {  // the root of the resource lies there, its key after a 6-byte header
            ASSERT_LE(sizes.offset + sizes.smallest, read.bytes.size());
            const std::u16string key(u"VS_VERSION_INFO");
            EXPECT_EQ(read.bytes.compare(sizes.offset + 6, 2 * key.size(),
                                         reinterpret_cast<const char*>(key.data()), 2 * key.size()), 0);
        }
    }
}

// A language-neutral module's language files: one that could not be checked,
// a damaged one, or one too many makes the module damaged; a file that is no
// module adds nothing; the sizes of intact ones join the module's.
TEST(PeResource, LanguageFiles)
{
    const ResourceFacts module = {300, 200, true}, larger = {900, 100, false}, none;
    const struct {
        bool opened;
        ResourceCheck check;
        const ResourceFacts* facts;
        std::uint32_t count;  // files added
        bool damaged;
        std::uint32_t largest, smallest;
    } rows[] = {
        {true, RESOURCE_PATH_INTACT, &larger, 1, false, 900, 100},
        {true, RESOURCE_NOT_IN_MODULE, &none, 3, false, 300, 200},
        {true, RESOURCE_PATH_INTACT, &none, LANGUAGE_FILES_MAX, false, 300, 200},
        {true, RESOURCE_PATH_INTACT, &none, LANGUAGE_FILES_MAX + 1, true, 300, 200},
        {false, RESOURCE_PATH_INTACT, &larger, 1, true, 300, 200},
        {true, RESOURCE_PATH_DAMAGED, &none, 1, true, 300, 200},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        LanguageFiles files;
        files.facts = module;
        for (std::uint32_t i = 0; i < row.count; ++i)
            AddLanguageFile(files, row.opened, row.check, *row.facts);
        EXPECT_EQ(files.damaged, row.damaged);
        if (!row.damaged) {
            EXPECT_EQ(files.facts.largest, row.largest);
            EXPECT_EQ(files.facts.smallest, row.smallest);
        }
    }
}
