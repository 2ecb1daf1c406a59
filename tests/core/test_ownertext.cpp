// The owner's directory texts. Here, rather than under Wine, since Wine has one
// user, no other account's registry texts, and takes device names, UNC paths
// and streams its own way: these texts are facts that no Wine prefix produces.
#include "ownertext.h"

#include <gtest/gtest.h>

#include <string>

// Registry values are the user's own text: what they name must be known and lead where it reads.
TEST(OwnerText, OwnerDirectoryText)
{
    const KnownVariable known[] = {{"USERPROFILE", "C:\\Users\\a"}, {"TMPDIR", ""}};
    const struct {
        std::string text, expanded;  // empty: refused
        bool plain, inside;          // inside C:\Users\a
        std::string directory;       // what a REG_EXPAND_SZ value gives; empty: not used
    } cases[] = {
        {"%userprofile%\\Temp", "C:\\Users\\a\\Temp", true, true, "C:\\Users\\a\\Temp"},
        {"C:\\Users\\ab 50% off", "C:\\Users\\ab 50% off", true, false, "C:\\Users\\ab 50% off"},
        {"%TMPDIR%\\x", "", false, false, ""},  // known, but empty
        {"%HOMEPATH%\\x", "", false, false, ""},
        {"%USERPROFILE%\\..\\b", "C:\\Users\\a\\..\\b", false, true, ""},
        {"C:\\Users\\a\\.", "C:\\Users\\a\\.", false, true, ""},
        {"\\\\server\\share", "\\\\server\\share", false, false, ""},
        {"\\\\?\\C:\\Users\\a", "\\\\?\\C:\\Users\\a", false, false, ""},
        {"\\\\.\\C:\\Temp", "\\\\.\\C:\\Temp", false, false, ""},
        {"C:\\Users\\a\\t:stream", "C:\\Users\\a\\t:stream", false, true, ""},
        {"C:\\Temp::$DATA", "C:\\Temp::$DATA", false, false, ""},
        {"C:Temp", "C:Temp", false, false, ""},
        {"C:/Users/a", "C:/Users/a", false, false, ""},
        {"C:\\Temp\\hsperf*", "C:\\Temp\\hsperf*", false, false, ""},
        {"C:\\NUL", "C:\\NUL", false, false, ""},
        {"%USERPROFILE%\\com1.log", "C:\\Users\\a\\com1.log", false, true, ""},
        {"C:\\Users\\a\\CONOUT$\\x", "C:\\Users\\a\\CONOUT$\\x", false, true, ""},
        {"C:\\Users\\a\\LPT\xB9", "C:\\Users\\a\\LPT\xB9", false, true, ""},
        {"C:\\Users\\a\\Aux .d", "C:\\Users\\a\\Aux .d", false, true, ""},
        {"C:\\Users\\a\\COM10", "C:\\Users\\a\\COM10", true, true, "C:\\Users\\a\\COM10"},
        {"C:\\Users\\a\\nulled", "C:\\Users\\a\\nulled", true, true, "C:\\Users\\a\\nulled"},
        {"%USERPROFILE%\\Temp\\\\", "C:\\Users\\a\\Temp\\\\", false, true, "C:\\Users\\a\\Temp"},
        {"C:\\\\", "C:\\\\", false, false, "C:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string expanded;
        EXPECT_EQ(ExpandKnownVariables(c.text, known, 2, &expanded), !c.expanded.empty());
        EXPECT_EQ(c.expanded.empty() ? "" : expanded, c.expanded);
        EXPECT_EQ(IsPlainLocalPath(c.expanded), c.plain);
        EXPECT_EQ(IsInsideDirectory(c.expanded, "C:\\Users\\A"), c.inside);
        std::string directory = "untouched";
        EXPECT_EQ(OwnerDirectoryFromText(c.text, true, known, 2, &directory), !c.directory.empty());
        EXPECT_EQ(directory, c.directory.empty() ? "untouched" : c.directory);
    }
    // A REG_SZ value is taken as it stands: a '%' in it names no variable.
    std::string directory;
    EXPECT_FALSE(OwnerDirectoryFromText("%USERPROFILE%\\Temp", false, known, 2, &directory));
    EXPECT_TRUE(OwnerDirectoryFromText("C:\\%TMPDIR%", false, known, 2, &directory));
    EXPECT_EQ(directory, "C:\\%TMPDIR%");
}
