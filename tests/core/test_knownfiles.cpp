// When two records describe one file: the same id on the same volume with the
// same size and last-write time, however the path was spelt. Hard links and
// second spellings cannot be told from the facts alone, which is the point:
// they are the same facts.
#include "knownfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

FileFacts Facts(FileKeyKind kind, std::uint64_t volume, std::uint64_t idHigh, std::uint64_t index,
                std::uint64_t size = 40960, std::uint64_t lastWrite = 0x01DB000011112222ull)
{
    FileFacts facts;
    facts.kind = kind;
    facts.volume = volume;
    facts.idHigh = idHigh;
    facts.index = index;
    facts.size = size;
    facts.lastWrite = lastWrite;
    return facts;
}

}  // namespace

TEST(KnownFiles, OneFileByItsFacts)
{
    const FileFacts seen = Facts(FILE_KEY_ID_128, 0x1234ABCD, 7, 0x0001000000000042ull);
    const struct {
        const char* what;
        FileFacts file;
        bool known;
    } cases[] = {
        {"the same file, by any path or link", seen, true},
        {"the same file, grown", Facts(FILE_KEY_ID_128, seen.volume, 7, seen.index, seen.size + 1), false},
        {"the same file, written since", Facts(FILE_KEY_ID_128, seen.volume, 7, seen.index, seen.size, 1), false},
        {"the same id on another volume", Facts(FILE_KEY_ID_128, seen.volume ^ 1, 7, seen.index), false},
        {"another file on the volume", Facts(FILE_KEY_ID_128, seen.volume, 7, seen.index + 1), false},
        {"an id that differs in its upper half only", Facts(FILE_KEY_ID_128, seen.volume, 8, seen.index), false},
        {"a 64-bit index equal to the id's lower half", Facts(FILE_KEY_INDEX_64, seen.volume, 7, seen.index), false},
    };
    KnownFiles<std::string> known(2);
    ASSERT_TRUE(known.Add(seen, "Deutsch"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string* found = known.Find(c.file);
        EXPECT_EQ(found != nullptr, c.known);
        if (found != nullptr)
            EXPECT_EQ(*found, "Deutsch");
    }
    // A file without an identity names no file; a full table takes no more.
    const FileFacts unknowable = Facts(FILE_KEY_NONE, 0, 0, 0);
    EXPECT_FALSE(known.Add(unknowable, "x"));
    EXPECT_EQ(known.Find(unknowable), nullptr);
    EXPECT_TRUE(known.Add(cases[1].file, "grown"));
    EXPECT_FALSE(known.Add(cases[2].file, "written"));
    EXPECT_EQ(known.Find(cases[2].file), nullptr);
}

// Which facts a file is known by, and where nothing is remembered at all.
TEST(KnownFiles, IdentityFromTheSystemsFacts)
{
    FileIdentityFacts local;
    local.id128Known = true;
    local.volume64 = 0x1122334455667788ull;
    for (int i = 0; i < 16; ++i)
        local.id128[i] = static_cast<std::uint8_t>(i + 1);
    local.indexKnown = true;
    local.volume32 = 0x55667788;
    local.index64 = 0x0807060504030201ull;
    local.size = 512;
    local.lastWrite = 99;
    local.driveType = FILE_DRIVE_FIXED;
    const FileFacts byId = Facts(FILE_KEY_ID_128, local.volume64, 0x100F0E0D0C0B0A09ull, 0x0807060504030201ull, 512, 99);
    const FileFacts byIndex = Facts(FILE_KEY_INDEX_64, local.volume32, 0, local.index64, 512, 99);
    const FileFacts none;
    const auto with = [&](void (*change)(FileIdentityFacts*)) {
        FileIdentityFacts facts = local;
        change(&facts);
        return facts;
    };
    const struct {
        const char* what;
        FileIdentityFacts facts;
        FileFacts expected;
    } rows[] = {
        {"a fixed disk with 128-bit ids", local, byId},
        {"a RAM disk", with([](FileIdentityFacts* f) { f->driveType = FILE_DRIVE_RAMDISK; }), byId},
        {"no 128-bit id: the 64-bit index", with([](FileIdentityFacts* f) { f->id128Known = false; }), byIndex},
        {"a 128-bit id of zeros", with([](FileIdentityFacts* f) { std::fill_n(f->id128, 16, 0); }), none},
        {"a 128-bit id of ones", with([](FileIdentityFacts* f) { std::fill_n(f->id128, 16, 0xFF); }), none},
        {"no id at all", with([](FileIdentityFacts* f) { f->id128Known = false, f->index64 = 0; }), none},
        {"an index of ones", with([](FileIdentityFacts* f) { f->id128Known = false, f->index64 = ~0ull; }), none},
        {"nothing told of the file", with([](FileIdentityFacts* f) { f->indexKnown = false; }), none},
        {"a network drive", with([](FileIdentityFacts* f) { f->driveType = FILE_DRIVE_REMOTE; }), none},
        {"a server's path on a fixed drive type",
         with([](FileIdentityFacts* f) { f->networkPath = true; }), none},
        {"a removable volume", with([](FileIdentityFacts* f) { f->driveType = FILE_DRIVE_REMOVABLE; }), none},
        {"a CD or DVD", with([](FileIdentityFacts* f) { f->driveType = FILE_DRIVE_CDROM; }), none},
        {"a drive type not told", with([](FileIdentityFacts* f) { f->driveType = FILE_DRIVE_UNKNOWN; }), none},
        {"a path with no root", with([](FileIdentityFacts* f) { f->driveType = FILE_DRIVE_NO_ROOT; }), none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(IdentifyFile(row.facts) == row.expected);
    }
}

// A table of so many bytes takes files while their entries fit, to the byte,
// and then refuses new ones, however small, until one fits what is left.
TEST(KnownFiles, BoundedInBytes)
{
    using Table = KnownFiles<std::string>;
    const std::size_t entry = Table::ENTRY_BYTES;
    Table known(100, 3 * entry + 100);
    const struct {
        std::size_t heldBytes;
        bool added;
        std::size_t usedAfter;
    } rows[] = {
        {60, true, entry + 60},
        {entry + 41, false, entry + 60},  // one byte more than is left
        {40, true, 2 * entry + 100},
        {0, true, 3 * entry + 100},  // the budget exactly
        {0, false, 3 * entry + 100},
        {~std::size_t(0), false, 3 * entry + 100},
    };
    std::uint64_t index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.heldBytes);
        const FileFacts file = Facts(FILE_KEY_INDEX_64, 1, 0, ++index);
        EXPECT_EQ(known.Add(file, "x", row.heldBytes), row.added);
        EXPECT_EQ(known.Find(file) != nullptr, row.added);
        EXPECT_EQ(known.UsedBytes(), row.usedAfter);
    }
}
