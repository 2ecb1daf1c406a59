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
    // Running out of memory (a value of hundreds of megabytes in the user's
    // hive is enough) ends that hive's listing; the lines written stay, every
    // key is closed by its owner on the way out, and the next hive is listed.
    // Uncaught, the exception would end the run with the runtime's message on
    // standard error and a code other than 0.
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        try {
            ListBrowsers(hive);
        } catch (...) {
        }
    }
    return 0;
}
