#pragma once
// The debug privilege, enabled with /setpriv before the processes are opened.
#include <windows.h>

// Enables SeDebugPrivilege in TaskRoll's own token and logs the outcome. The
// run goes on whatever the outcome: processes that refuse access are logged
// by the listing like any other failure.
void SetPrivileges();
