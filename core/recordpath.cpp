#include "recordpath.h"

#include <cstdio>

RecordPathForm ChooseRecordPath(bool fits, bool shortFits)
{
    if (fits)
        return RECORD_PATH_AS_IS;
    return shortFits ? RECORD_PATH_SHORT : RECORD_PATH_ESCAPED;
}

std::string EscapedPath(const std::uint16_t* units, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t point = units[i];
        if (point >= ' ' && point <= '~' && point != '<') {
            text += static_cast<char>(point);
            continue;
        }
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            point = 0x10000 + ((point - 0xD800) << 10) + (units[++i] - 0xDC00);
        char escape[16];
        std::snprintf(escape, sizeof escape, "<U+%04X>", static_cast<unsigned>(point));
        text += escape;
    }
    return text;
}
