#pragma once
// The debug privilege, enabled with /setpriv before the processes are opened.
#include <windows.h>

// Enables SeDebugPrivilege in TaskRoll's own token and logs the outcome. The
// run goes on whatever the outcome: processes that refuse access are logged
// by the listing like any other failure.
void SetPrivileges();

// Enables the named privilege in the process token and logs the outcome.
// 0 when it is enabled; otherwise the system's error code, ERROR_NOT_ALL_ASSIGNED
// when the token does not hold the privilege at all.
DWORD EnablePrivilege(const char* privilegeName);
