// Which paths a process image or a performance-data file may be opened on.
// Wine shows none of the network's forms but a UNC path (it has no
// redirector, no Mup, no mapped network drive), so this table shows them.
#include "pathplace.h"

#include <gtest/gtest.h>

#include <string>

TEST(PathPlace, OnlyAPathKnownToBeLocalIsOpened)
{
    const PathPlace DRIVE = PATH_PLACE_DRIVE, NET = PATH_PLACE_NETWORK, LOCAL = PATH_PLACE_LOCAL,
                    UNKNOWN = PATH_PLACE_UNKNOWN;
    const struct {
        const char* path;
        PathPlace place;
        char drive;
    } rows[] = {
        {"C:\\Windows\\notepad.exe", DRIVE, 'C'}, {"c:/tools/x.exe", DRIVE, 'C'}, {"x:relative.exe", DRIVE, 'X'},
        {"\\\\?\\D:\\long\\x.exe", DRIVE, 'D'}, {"\\??\\e:\\x.exe", DRIVE, 'E'},
        {"\\\\?\\GLOBALROOT\\??\\F:\\x.exe", DRIVE, 'F'}, {"\\\\server\\share\\x.exe", NET, 0},
        {"//server/share/x.exe", NET, 0}, {"\\\\server@SSL\\share\\x.exe", NET, 0},
        {"\\\\server@8080\\DavWWWRoot\\x.exe", NET, 0}, {"\\\\?\\UNC\\server\\share\\x.exe", NET, 0},
        {"\\\\.\\unc\\server\\x.exe", NET, 0}, {"\\??\\UNC\\server\\x.exe", NET, 0},
        {"\\Device\\Mup\\server\\share\\x.exe", NET, 0}, {"\\device\\LanmanRedirector\\;X:0\\s\\x.exe", NET, 0},
        {"\\\\?\\GLOBALROOT\\Device\\Mup\\s\\x.exe", NET, 0}, {"\\Device\\HarddiskVolume3\\x.exe", LOCAL, 0},
        {"\\Device\\HarddiskVolume\\x.exe", NET, 0}, {"\\\\?\\Volume{0b1d-42}\\x.exe", LOCAL, 0},
        {"\\\\?\\unix\\tmp\\x.exe", UNKNOWN, 0}, {"\\Windows\\x.exe", UNKNOWN, 0}, {"tools\\x.exe", UNKNOWN, 0},
        {"", UNKNOWN, 0}, {"1:\\x.exe", UNKNOWN, 0},
    };
    for (const auto& row : rows) {
        const std::string path = row.path;
        const PathReach reach = ReachOfPath(path);
        EXPECT_EQ(reach.place, row.place) << path;
        EXPECT_EQ(reach.drive, row.drive) << path;
        // A mapped share, or a drive of no known type, is never opened.
        EXPECT_EQ(MayOpenPath(reach, DRIVE_KIND_LOCAL), row.place == LOCAL || row.place == DRIVE) << path;
        EXPECT_EQ(MayOpenPath(reach, DRIVE_KIND_REMOTE), row.place == LOCAL) << path;
        EXPECT_EQ(MayOpenPath(reach, DRIVE_KIND_UNKNOWN), row.place == LOCAL) << path;
        const std::u16string units(path.begin(), path.end());
        EXPECT_EQ(ReachOfPath(reinterpret_cast<const std::uint16_t*>(units.data()), units.size()).place, row.place);
    }
    const std::uint16_t fullWidth[] = {0xFF5C, 0xFF5C, 's'};  // no separators, though their low bytes are
    EXPECT_EQ(ReachOfPath(fullWidth, 3).place, PATH_PLACE_UNKNOWN);
}
