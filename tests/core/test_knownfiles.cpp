// When two records describe one file: the same volume and index with the same
// size and last-write time, however the path was spelt. Hard links and second
// spellings cannot be told from the facts alone, which is the point: they are
// the same facts.
#include "knownfiles.h"

#include <gtest/gtest.h>

#include <string>

TEST(KnownFiles, OneFileByItsFacts)
{
    const FileFacts seen = {0x1234ABCD, 0x0001000000000042ull, 40960, 0x01DB000011112222ull};
    const struct {
        const char* what;
        FileFacts file;
        bool known;
    } cases[] = {
        {"the same file, by any path or link", seen, true},
        {"the same file, grown", {seen.volume, seen.index, seen.size + 1, seen.lastWrite}, false},
        {"the same file, written since", {seen.volume, seen.index, seen.size, seen.lastWrite + 1}, false},
        {"the same index on another volume", {seen.volume ^ 1, seen.index, seen.size, seen.lastWrite}, false},
        {"another file on the volume", {seen.volume, seen.index + 1, seen.size, seen.lastWrite}, false},
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
    // A file system that gives no index names no file; a full table takes no more.
    const FileFacts unknowable = {0, 0, seen.size, seen.lastWrite};
    EXPECT_FALSE(known.Add(unknowable, "x"));
    EXPECT_EQ(known.Find(unknowable), nullptr);
    EXPECT_TRUE(known.Add(cases[1].file, "grown"));
    EXPECT_FALSE(known.Add(cases[2].file, "written"));
    EXPECT_EQ(known.Find(cases[2].file), nullptr);
}
