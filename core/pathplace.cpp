#include "pathplace.h"

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when `text` begins at `at` with `word` (ASCII case ignored); moves
// `at` past it.
bool Take(const std::string& text, std::size_t* at, const char* word)
{
    std::size_t i = *at;
    for (; *word != '\0'; ++word, ++i) {
        if (i >= text.size())
            return false;
        if (*word == '\\' ? !IsSeparator(text[i]) : Upper(text[i]) != Upper(*word))
            return false;
    }
    *at = i;
    return true;
}

// "X:" at `at`: the drive letter, else 0. What follows the colon (a
// separator, a name relative to that drive's directory, nothing) stays on
// that drive.
char DriveAt(const std::string& text, std::size_t at)
{
    const char letter = at + 1 < text.size() ? Upper(text[at]) : '\0';
    return letter >= 'A' && letter <= 'Z' && text[at + 1] == ':' ? letter : '\0';
}

PathReach Reach(PathPlace place, char drive = '\0')
{
    PathReach reach;
    reach.place = place;
    reach.drive = drive;
    return reach;
}

// A name under \Device\. The disks' own devices are local; every other
// device (Mup, LanmanRedirector, WebDavRedirector, a vendor's redirector, a
// pipe or mailslot file system) is taken as the network's, so that a
// redirector this rule does not know is not opened either.
PathReach DeviceReach(const std::string& text, std::size_t at)
{
    for (const char* local : {"HarddiskVolume", "CdRom", "Floppy"}) {
        std::size_t i = at;
        if (!Take(text, &i, local))
            continue;
        const std::size_t digits = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i > digits && (i == text.size() || IsSeparator(text[i])))
            return Reach(PATH_PLACE_LOCAL);
    }
    return Reach(PATH_PLACE_NETWORK);
}

PathReach DosDevicesReach(const std::string& text, std::size_t at);

// A path of the object manager's root: \Device\..., or a name of the DOS
// devices' directory (\??\, \GLOBAL??\, \DosDevices\). Nothing else there is
// a file of a known place.
PathReach RootReach(const std::string& text, std::size_t at)
{
    if (Take(text, &at, "Device\\"))
        return DeviceReach(text, at);
    if (Take(text, &at, "??\\") || Take(text, &at, "GLOBAL??\\") || Take(text, &at, "DosDevices\\"))
        return DosDevicesReach(text, at);
    return Reach(PATH_PLACE_UNKNOWN);
}

// A name in the DOS devices' directory, as after "\\?\", "\\.\" or "\??\":
// a drive, UNC (a share), a volume by its GUID (always local), the way back
// to the root (GLOBALROOT), or a device of no known kind.
PathReach DosDevicesReach(const std::string& text, std::size_t at)
{
    if (const char drive = DriveAt(text, at))
        return Reach(PATH_PLACE_DRIVE, drive);
    if (Take(text, &at, "UNC\\"))
        return Reach(PATH_PLACE_NETWORK);
    if (Take(text, &at, "Volume{"))
        return Reach(PATH_PLACE_LOCAL);
    if (Take(text, &at, "GLOBALROOT\\"))
        return RootReach(text, at);
    return Reach(PATH_PLACE_UNKNOWN);
}

}  // namespace

PathReach ReachOfPath(const std::string& path)
{
    if (const char drive = DriveAt(path, 0))
        return Reach(PATH_PLACE_DRIVE, drive);
    if (path.size() < 2 || !IsSeparator(path[0]))
        return Reach(PATH_PLACE_UNKNOWN);  // relative to the current directory, wherever that is
    if (!IsSeparator(path[1])) {
        // "\Device\Mup\..." as the kernel names an image, or "\??\..."; any
        // other text under one backslash is on the current directory's drive.
        return RootReach(path, 1);
    }
    // "\\?\" and "\\.\" lead to the DOS devices; every other name after two
    // separators is a server's: "\\server\share", WebDAV's "\\server@SSL\..."
    // and "\\server@8080\DavWWWRoot\..." among them.
    if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && IsSeparator(path[3]))
        return DosDevicesReach(path, 4);
    return Reach(PATH_PLACE_NETWORK);
}

PathReach ReachOfPath(const std::uint16_t* units, std::size_t count)
{
    // Only ASCII shapes the rules; any other character stands as a byte that
    // matches no separator, letter or digit.
    std::string shape(count, '\x80');
    for (std::size_t i = 0; i < count; ++i) {
        if (units[i] < 0x80)
            shape[i] = static_cast<char>(units[i]);
    }
    return ReachOfPath(shape);
}

bool MayOpenPath(const PathReach& reach, DriveKind drive)
{
    return reach.place == PATH_PLACE_LOCAL || (reach.place == PATH_PLACE_DRIVE && drive == DRIVE_KIND_LOCAL);
}
