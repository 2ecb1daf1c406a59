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
