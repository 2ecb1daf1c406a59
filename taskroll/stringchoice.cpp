#include "readerworker.h"

#include "bounded.h"
#include "settings.h"
#include "text.h"

#include <windows.h>

#include <string>

namespace {

// A string value in the ANSI code page: its characters up to its first NUL,
// at most its stated length, never past its node.
std::string TextOf(const VersionTree& tree, const std::uint8_t* value, std::size_t valueBytes)
{
    std::size_t units = VersionTextUnits(tree, value, valueBytes);
    if (!tree.wide)
        return std::string(reinterpret_cast<const char*>(value), units);
    std::wstring wide(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        wide[i] = static_cast<wchar_t>(VersionTextUnit(tree, value, i));
    return ToAnsi(wide);
}

// A string that the selection found, as the output keeps it: 259 bytes at
// most, cut before a double-byte character that would not fit whole (a lone
// lead byte would take the record's '$' or line end as its second half).
std::string OutputText(const VersionTree& tree, const std::uint8_t* value, std::size_t valueBytes)
{
    std::string text = TextOf(tree, value, valueBytes);
    text.resize(CutOnCharacter(text.data(), text.size(), PATH_BUFFER_SIZE - 1, AnsiLeadBytes()));
    return text;
}

struct Choice {
    const VersionTree* tree;
    DescribedStrings* strings;
};

void KeepFoundString(void* context, const std::uint8_t* value, std::size_t valueBytes)
{
    const Choice* choice = static_cast<const Choice*>(context);
    choice->strings->texts.push_back(OutputText(*choice->tree, value, valueBytes));
}

}  // namespace

void ChooseStrings(const VersionTree& tree, DescribedStrings (&strings)[READER_NAMES])
{
    for (std::size_t i = 0; i < READER_NAMES; ++i) {
        strings[i] = DescribedStrings();
        Choice choice = {&tree, &strings[i]};
        strings[i].found = SelectVersionString(tree, READER_NAME_TEXTS[i], KeepFoundString, &choice);
        // A resource that reports more is no resource of a real program:
        // the last strings stand, as the last one reported is the record's.
        std::vector<std::string>& texts = strings[i].texts;
        if (texts.size() > READER_TEXTS_MAX)
            texts.erase(texts.begin(), texts.end() - READER_TEXTS_MAX);
    }
}
