// Webroster: lists the browsers registered for the local machine, then for the
// current user, one line each on standard output in UTF-16.
#include "browsers.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

int main()
{
    // UTF-16 little-endian without a byte-order mark, "\n" written as CR LF;
    // on a console the runtime shows the same text through its wide output.
    _setmode(_fileno(stdout), _O_U16TEXT);
    ListBrowsers(HKEY_LOCAL_MACHINE);
    ListBrowsers(HKEY_CURRENT_USER);
    return 0;
}
