#include "ownertext.h"

#include <cstring>

namespace {

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiLetter(char c)
{
    return LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z';
}

// Bytes that no name on disk holds: control characters, and the wildcards
// that the system's directory searches take as patterns ('<', '>' and '"'
// are wildcards too there).
bool IsForbiddenByte(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr;
}

// The system takes a reserved device name as the device wherever the
// component stands, also with an extension ("NUL.txt") or spaces before it
// ("COM1 .log"), and in any letter case. After "COM" and "LPT" a digit or a
// superscript one, two or three counts, in the ANSI code page's single byte
// (0xB9, 0xB2, 0xB3 in 1252) or in UTF-8: refusing these bytes in another code
// page costs nothing, since no temporary directory is named so.
bool IsDeviceName(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
        if (EqualNoCase(base, device))
            return true;
    }
    if (base.size() < 4 || !(EqualNoCase(base.substr(0, 3), "COM") || EqualNoCase(base.substr(0, 3), "LPT")))
        return false;
    const std::string number = base.substr(3);
    if (number.size() == 1)
        return (number[0] >= '0' && number[0] <= '9') || number == "\xB9" || number == "\xB2" || number == "\xB3";
    return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

bool ExpandKnownVariables(const std::string& text, const KnownVariable* variables, std::size_t count,
                          std::string* expanded)
{
    std::string result;
    std::size_t at = 0;
    for (std::size_t open; (open = text.find('%', at)) != std::string::npos;) {
        std::size_t close = text.find('%', open + 1);
        if (close == std::string::npos)
            break;
        result += text.substr(at, open - at);
        const std::string name = text.substr(open + 1, close - open - 1);
        const KnownVariable* known = nullptr;
        for (std::size_t i = 0; i < count && known == nullptr; ++i)
            known = EqualNoCase(name, variables[i].name) ? &variables[i] : nullptr;
        if (known == nullptr || known->value.empty())
            return false;
        result += known->value;
        at = close + 1;
    }
    result += text.substr(at);
    *expanded = result;
    return true;
}

bool IsPlainLocalPath(const std::string& path)
{
    if (path.size() < 3 || !IsAsciiLetter(path[0]) || path[1] != ':' || path[2] != '\\')
        return false;
    // A colon past the drive's names a stream (or is refused by the system).
    if (path.find_first_of(":/", 2) != std::string::npos)
        return false;
    std::size_t start = 3;
    while (start < path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        // An empty component (two backslashes) or one the system would trim.
        if (end == start || path[end - 1] == '.' || path[end - 1] == ' ')
            return false;
        const std::string component = path.substr(start, end - start);
        for (char c : component) {
            if (IsForbiddenByte(c))
                return false;
        }
        if (IsDeviceName(component))
            return false;
        start = end + 1;
    }
    return true;
}

bool IsInsideDirectory(const std::string& path, const std::string& directory)
{
    if (directory.empty() || path.size() < directory.size() || !EqualNoCase(path.substr(0, directory.size()), directory))
        return false;
    return path.size() == directory.size() || directory.back() == '\\' || path[directory.size()] == '\\';
}

bool OwnerDirectoryFromText(const std::string& text, bool expandable, const KnownVariable* variables,
                            std::size_t count, std::string* directory)
{
    std::string expanded = text;
    if (expandable && !ExpandKnownVariables(text, variables, count, &expanded))
        return false;
    while (expanded.size() > 3 && expanded.back() == '\\')
        expanded.pop_back();
    if (!IsPlainLocalPath(expanded))
        return false;
    *directory = expanded;
    return true;
}
