#pragma once
// Whether a file may be opened by where its path leads. Run as SYSTEM, an
// open of a file on a share authenticates the computer's account to whatever
// server a user named, and may wait for it as long as that server likes: a
// process image or a performance-data file on a network path is never opened.
// The path's text decides most of it; for a drive letter, the drive's type as
// the system tells it decides.
#include <cstddef>
#include <cstdint>
#include <string>

enum PathPlace {
    PATH_PLACE_LOCAL,    // a local volume by its text alone (\\?\Volume{...}, \Device\HarddiskVolumeN)
    PATH_PLACE_DRIVE,    // on the drive `drive` names: its type decides
    PATH_PLACE_NETWORK,  // a share, WebDAV, a network redirector's device
    PATH_PLACE_UNKNOWN,  // not fully qualified (it depends on the current directory), or a device of no known kind
};

struct PathReach {
    PathPlace place = PATH_PLACE_UNKNOWN;
    char drive = 0;  // 'A' to 'Z' for PATH_PLACE_DRIVE, else 0
};

// What the system tells of a drive's type (GetDriveType): a fixed, removable,
// optical or RAM disk is local; a mapped share is remote; anything else (no
// such drive, a type not known) is neither.
enum DriveKind { DRIVE_KIND_LOCAL, DRIVE_KIND_REMOTE, DRIVE_KIND_UNKNOWN };

// Where the path leads, from its text: the ANSI bytes of a path, or its
// UTF-16 units. Both separators count, as the system's path rules take them;
// letters are compared without regard to ASCII case.
PathReach ReachOfPath(const std::string& path);
PathReach ReachOfPath(const std::uint16_t* units, std::size_t count);

// Whether a file on that path may be opened: only where it is known to be
// local, a drive letter's path by `drive`, the type of reach.drive (ignored
// for the other places). A path that is not known to be local is not opened.
bool MayOpenPath(const PathReach& reach, DriveKind drive);
