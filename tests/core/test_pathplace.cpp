// Which paths a process image or a performance-data file may be opened on.
// Wine shows none of the network's forms as Windows does (it has no
// redirector: a UNC path leads to its prefix's dosdevices\unc), so this table
// is where each form is shown.
#include "pathplace.h"

#include <gtest/gtest.h>

#include <string>

TEST(PathPlace, OnlyAPathKnownToBeLocalIsOpened)
{
    const struct {
        const char* path;
        PathPlace place;
        char drive;
        bool mayOpenOnLocalDrive;
    } rows[] = {
        {"C:\\Windows\\notepad.exe", PATH_PLACE_DRIVE, 'C', true},
        {"c:/tools/x.exe", PATH_PLACE_DRIVE, 'C', true},
        {"x:relative.exe", PATH_PLACE_DRIVE, 'X', true},
        {"\\\\?\\D:\\long\\x.exe", PATH_PLACE_DRIVE, 'D', true},
        {"\\??\\e:\\x.exe", PATH_PLACE_DRIVE, 'E', true},
        {"\\\\?\\GLOBALROOT\\??\\F:\\x.exe", PATH_PLACE_DRIVE, 'F', true},
        {"\\\\server\\share\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"//server/share/x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\/server\\share\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\\\server@SSL\\share\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\\\server@8080\\DavWWWRoot\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\\\?\\UNC\\server\\share\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\\\.\\unc\\server\\share\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\??\\UNC\\server\\share\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\Device\\Mup\\server\\share\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\device\\LanmanRedirector\\;X:0000\\server\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\Device\\WebDavRedirector\\server\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\Device\\HarddiskVolume3\\Windows\\x.exe", PATH_PLACE_LOCAL, 0, true},
        {"\\Device\\HarddiskVolume\\x.exe", PATH_PLACE_NETWORK, 0, false},   // no number: another device
        {"\\Device\\HarddiskVolume3x\\x.exe", PATH_PLACE_NETWORK, 0, false},
        {"\\\\?\\Volume{0b1d-42}\\x.exe", PATH_PLACE_LOCAL, 0, true},
        {"\\\\?\\unix\\tmp\\x.exe", PATH_PLACE_UNKNOWN, 0, false},
        {"\\Windows\\x.exe", PATH_PLACE_UNKNOWN, 0, false},   // the current directory's drive
        {"tools\\x.exe", PATH_PLACE_UNKNOWN, 0, false},
        {"", PATH_PLACE_UNKNOWN, 0, false},
        {"\\", PATH_PLACE_UNKNOWN, 0, false},
        {"1:\\x.exe", PATH_PLACE_UNKNOWN, 0, false},
    };
    for (const auto& row : rows) {
        const std::string path = row.path;
        const PathReach reach = ReachOfPath(path);
        EXPECT_EQ(reach.place, row.place) << path;
        EXPECT_EQ(reach.drive, row.drive) << path;
        EXPECT_EQ(MayOpenPath(reach, DRIVE_KIND_LOCAL), row.mayOpenOnLocalDrive) << path;
        // A mapped share, or a drive of no known type, is never opened; the
        // drive's type tells nothing of a path that names no drive.
        EXPECT_EQ(MayOpenPath(reach, DRIVE_KIND_REMOTE), row.place == PATH_PLACE_LOCAL) << path;
        EXPECT_EQ(MayOpenPath(reach, DRIVE_KIND_UNKNOWN), row.place == PATH_PLACE_LOCAL) << path;
        // The UTF-16 form of a path is judged as its ANSI one; a character
        // beyond ASCII is no separator.
        std::u16string units(path.begin(), path.end());
        const PathReach wide = ReachOfPath(reinterpret_cast<const std::uint16_t*>(units.data()), units.size());
        EXPECT_EQ(wide.place, row.place) << path;
        EXPECT_EQ(wide.drive, row.drive) << path;
    }
    const std::uint16_t fullWidth[] = {0xFF3C, 0xFF3C, 's', '\\', 'x'};  // full-width backslashes
    EXPECT_EQ(ReachOfPath(fullWidth, 5).place, PATH_PLACE_UNKNOWN);
}
