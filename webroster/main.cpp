// Webroster: lists the browsers registered for the local machine, then for the
// current user (run as LocalSystem, then for each signed-in user, each hive
// named), one line each on standard output in UTF-16.
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
    // Run as LocalSystem, the own hive holds no browser; the signed-in users'
    // hives follow, each as the current user's would be, and every hive's
    // lines come after a line that names it, so that a user's browser cannot
    // pass for the machine's. An interactive run writes no such line.
    std::vector<HiveListing> hives;
    try {
        hives = GetHiveListings();
    } catch (...) {
        hives = {HiveListing(), HiveListing()};
        hives[1].root = HIVE_CURRENT_USER;
    }
    for (const HiveListing& hive : hives) {
        try {
            const HKEY root = hive.root == HIVE_MACHINE        ? HKEY_LOCAL_MACHINE
                              : hive.root == HIVE_CURRENT_USER ? HKEY_CURRENT_USER
                                                               : HKEY_USERS;
            const std::wstring sid(hive.sid.begin(), hive.sid.end());
            const std::wstring heading(hive.heading.begin(), hive.heading.end());
            ListBrowsers(root, sid.empty() ? sid : sid + L"\\", heading);
        } catch (...) {
        }
    }
    return 0;
}
