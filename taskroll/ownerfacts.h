#pragma once
// What the system says of a process's owner: the user of its token, and the
// facts that the owner's places are planned from (core/ownerplaces decides).
#include "ownerplaces.h"

#include <windows.h>

constexpr DWORD SID_TEXT_SIZE = 256;

// The user of the process's token, into `sid` (SECURITY_MAX_SID_SIZE bytes).
bool GetOwnerSid(HANDLE process, BYTE* sid);

struct ProcessOwner {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    char sidText[SID_TEXT_SIZE];
};

// The owner of the process and what the system records of them: their
// account, profile and environment in the registry, the Windows directory,
// the computer's name and the fixed disks. False when the owner's SID cannot
// be read (the error is GetLastError's); a fact that cannot be read is left empty.
bool GetOwnerFacts(HANDLE process, ProcessOwner* owner, OwnerFacts* facts);
