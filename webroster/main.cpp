// Webroster: lists the browsers registered for the local machine, then for the
// current user (run as a service account, then for each signed-in user), one
// line each on standard output in UTF-16.
#include "browsers.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

int main()
{
    // The lines are UTF-16 little-endian without a byte-order mark, written
    // unit for unit (browsers.cpp): the runtime must pass every byte as it is.
    _setmode(_fileno(stdout), _O_BINARY);
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
    // Run as a service account, the own hive above holds no browser; the
    // signed-in users' hives follow, each as the current user's would be.
    std::vector<std::wstring> userHives;
    try {
        userHives = GetSignedInUserHives();
    } catch (...) {
    }
    for (const std::wstring& sid : userHives) {
        try {
            ListBrowsers(HKEY_USERS, sid);
        } catch (...) {
        }
    }
    return 0;
}
