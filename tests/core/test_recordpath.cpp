// How a record names a file that the ANSI code page cannot name.
#include "recordpath.h"

#include <gtest/gtest.h>

#include <string>

TEST(RecordPath, FormsAndEscapedNames)
{
    // A volume without short names (every volume but the system's, by default) leaves only the escaped form.
    EXPECT_EQ(ChooseRecordPath(true, true), RECORD_PATH_AS_IS);
    EXPECT_EQ(ChooseRecordPath(true, false), RECORD_PATH_AS_IS);
    EXPECT_EQ(ChooseRecordPath(false, true), RECORD_PATH_SHORT);
    EXPECT_EQ(ChooseRecordPath(false, false), RECORD_PATH_ESCAPED);

    const struct {
        std::u16string path;
        std::string escaped;
    } cases[] = {
        {u"C:\\\u041f\u0440\u043e\u0433\u0440 \u65e5\u672c\\a.exe",
         "C:\\<U+041F><U+0440><U+043E><U+0433><U+0440> <U+65E5><U+672C>\\a.exe"},
        // A '<' is escaped too, so that no two paths give one text.
        {u"C:\\J\u00f6rg<U+0041>\\\U0001F600\t~", "C:\\J<U+00F6>rg<U+003C>U+0041>\\<U+1F600><U+0009>~"},
        {std::u16string(u"\\\xD800", 2) + u"x" + std::u16string(1, char16_t(0xDC00)), "\\<U+D800>x<U+DC00>"},
    };
    for (const auto& c : cases) {
        const auto* units = reinterpret_cast<const std::uint16_t*>(c.path.data());
        EXPECT_EQ(EscapedPath(units, c.path.size()), c.escaped);
    }
}
