#include "text.h"

#include <windows.h>

namespace {

LeadBytes ReadAnsiLeadBytes()
{
    LeadBytes leadBytes;
    for (unsigned byte = 0; byte < 256; ++byte)
        leadBytes.lead[byte] = IsDBCSLeadByte(static_cast<BYTE>(byte)) != 0;
    return leadBytes;
}

}  // namespace

const LeadBytes& AnsiLeadBytes()
{
    static const LeadBytes leadBytes = ReadAnsiLeadBytes();
    return leadBytes;
}

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int units = static_cast<int>(text.size());
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), units, &ansi[0], size, nullptr, nullptr);
    return ansi;
}

bool ToAnsiLossless(const wchar_t* text, std::string* ansi)
{
    // UTF-8 holds every character but a lone surrogate, which a file name may
    // hold and which would come out as U+FFFD, another name; it refuses the
    // lossy-check arguments and tells of a lone surrogate by failing.
    bool utf8 = GetACP() == CP_UTF8;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    int size = WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
    if (size <= 0 || lossy)
        return false;
    ansi->assign(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, flags, text, -1, &(*ansi)[0], size, nullptr, nullptr);
    ansi->resize(static_cast<std::size_t>(size) - 1);
    return true;
}

std::string MessagePath(const std::wstring& longPath)
{
    // Without the \\?\ that lets a long name through: not how a person writes it.
    std::wstring path = longPath;
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        path = L"\\" + path.substr(7);
    else if (path.compare(0, 4, L"\\\\?\\") == 0)
        path = path.substr(4);
    std::string shown;
    if (ToAnsiLossless(path.c_str(), &shown))
        return shown;
    // The file name stays long where the code page holds it: only the
    // directories take their short names.
    std::size_t end = path.rfind(L'\\');
    if (end == std::wstring::npos || !ToAnsiLossless(path.c_str() + end, &shown))
        end = path.size();
    while (end != std::wstring::npos && end > 0) {
        const std::wstring part = path.substr(0, end);
        std::wstring shortPath(GetShortPathNameW(part.c_str(), nullptr, 0), L'\0');
        DWORD length = shortPath.empty() ? 0 : GetShortPathNameW(part.c_str(), &shortPath[0],
                                                                 static_cast<DWORD>(shortPath.size()));
        if (length > 0 && length < shortPath.size()) {
            shortPath.resize(length);
            if (ToAnsiLossless((shortPath + path.substr(end)).c_str(), &shown))
                return shown;
            break;
        }
        end = path.rfind(L'\\', end - 1);
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    shown.assign(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &shown[0], size, nullptr, nullptr);
    shown.resize(shown.size() - 1);
    return shown;
}
