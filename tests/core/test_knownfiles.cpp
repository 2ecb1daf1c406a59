// When two records describe one file: the same id on the same volume with the same
// size and last-write time, however the path was spelt. Hard links and second
// spellings cannot be told from the facts alone, which is the point: they are
// the same facts.
#include "knownfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

TEST(KnownFiles, OneFileByItsFacts)
{
    const FileFacts seen = {FILE_KEY_ID_128, 0x1234ABCD, 7, 0x0001000000000042ull, 40960, 0x01DB000011112222ull};
    const struct {
        const char* what;
        FileFacts file;
        bool known;
    } cases[] = {
        {"the same file, by any path or link", seen, true},
        {"the same file, grown", {seen.kind, seen.volume, 7, seen.index, seen.size + 1, seen.lastWrite}, false},
        {"the same file, written since", {seen.kind, seen.volume, 7, seen.index, seen.size, seen.lastWrite + 1}, false},
        {"the same id on another volume", {seen.kind, seen.volume ^ 1, 7, seen.index, seen.size, seen.lastWrite},
         false},
        {"another file on the volume", {seen.kind, seen.volume, 7, seen.index + 1, seen.size, seen.lastWrite}, false},
        {"another id, the same lower half", {seen.kind, seen.volume, 8, seen.index, seen.size, seen.lastWrite}, false},
        {"a 64-bit index equal to the lower half",
         {FILE_KEY_INDEX_64, seen.volume, 7, seen.index, seen.size, seen.lastWrite}, false},
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
    const FileFacts unknowable = {FILE_KEY_NONE, 0, 0, 0, seen.size, seen.lastWrite};
    EXPECT_FALSE(known.Add(unknowable, "x"));
    EXPECT_EQ(known.Find(unknowable), nullptr);
    EXPECT_TRUE(known.Add(cases[1].file, "grown"));
    EXPECT_FALSE(known.Add(cases[2].file, "written"));
    EXPECT_EQ(known.Find(cases[2].file), nullptr);
}

// Which id a file is known by, and the volumes where nothing is remembered:
// a server or a removable volume makes up its serial numbers and ids.
TEST(KnownFiles, IdentityFromTheSystemsFacts)
{
    const struct {
        bool id128Known;
        std::uint8_t idBytes;  // every byte of the 128-bit id
        std::uint64_t index64;
        unsigned driveType;
        bool networkPath;
        FileKeyKind kind;
    } rows[] = {
        {true, 1, 5, FILE_DRIVE_FIXED, false, FILE_KEY_ID_128},
        {true, 1, 5, FILE_DRIVE_RAMDISK, false, FILE_KEY_ID_128},
        {false, 1, 5, FILE_DRIVE_FIXED, false, FILE_KEY_INDEX_64},  // no 128-bit id told
        {true, 0, 5, FILE_DRIVE_FIXED, false, FILE_KEY_NONE},       // ids that name no file
        {true, 0xFF, 5, FILE_DRIVE_FIXED, false, FILE_KEY_NONE},
        {false, 1, 0, FILE_DRIVE_FIXED, false, FILE_KEY_NONE},
        {false, 1, ~0ull, FILE_DRIVE_FIXED, false, FILE_KEY_NONE},
        {true, 1, 5, FILE_DRIVE_FIXED, true, FILE_KEY_NONE},  // a server's path
        {true, 1, 5, FILE_DRIVE_REMOTE, false, FILE_KEY_NONE},
        {true, 1, 5, FILE_DRIVE_REMOVABLE, false, FILE_KEY_NONE},
        {true, 1, 5, FILE_DRIVE_CDROM, false, FILE_KEY_NONE},
        {true, 1, 5, FILE_DRIVE_UNKNOWN, false, FILE_KEY_NONE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        FileIdentityFacts facts = {row.id128Known, 9, {}, true, 8, row.index64, 3, 0, row.driveType, row.networkPath};
        std::fill_n(facts.id128, 16, row.idBytes);
        const std::uint64_t ones = 0x0101010101010101ull;
        const FileFacts expected = row.kind == FILE_KEY_NONE    ? FileFacts()
                                   : row.kind == FILE_KEY_ID_128 ? FileFacts{row.kind, 9, ones, ones, 3, 0}
                                                                 : FileFacts{row.kind, 8, 0, 5, 3, 0};
        EXPECT_TRUE(IdentifyFile(facts) == expected);
    }
}

// So many bytes take files while they fit, to the byte; then no new one.
TEST(KnownFiles, BoundedInBytes)
{
    const std::size_t entry = KnownFiles<int>::ENTRY_BYTES;
    KnownFiles<int> known(100, 2 * entry + 100);
    const std::size_t held[] = {60, entry + 41, 40, 0, ~std::size_t(0)};
    const bool added[] = {true, false, true, false, false};
    for (unsigned i = 0; i < 5; ++i) {
        const FileFacts file = {FILE_KEY_INDEX_64, 1, 0, i + 1u, 0, 0};
        EXPECT_EQ(known.Add(file, 0, held[i]), added[i]) << i;
        EXPECT_EQ(known.Find(file) != nullptr, added[i]) << i;
    }
    EXPECT_EQ(known.UsedBytes(), 2 * entry + 100);
}
