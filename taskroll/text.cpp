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
