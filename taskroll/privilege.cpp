#include "privilege.h"

#include "debuglog.h"
#include "handles.h"
#include "internal.h"

void SetPrivileges()
{
    LogTrace("SetPrivileges");
    LogMessage("Setting previleges...");
    EnablePrivilege("SeDebugPrivilege");
}

DWORD EnablePrivilege(const char* privilegeName)
{
    handles::TokenHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) {
        DWORD error = GetLastError();
        LogMessage("'OpenProcessToken' failed");
        return error;
    }

    TOKEN_PRIVILEGES request = {};
    request.PrivilegeCount = 1;
    DWORD error = 0;
    if (!LookupPrivilegeValueA(nullptr, privilegeName, &request.Privileges[0].Luid)) {
        error = GetLastError();
        LogMessage("Failed to lookup previlege value");
    } else {
        request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD returnLength = 0;
        BOOL adjusted = AdjustTokenPrivileges(token.Get(), FALSE, &request, sizeof request, nullptr, &returnLength);
        // A token that lacks the privilege still makes the call return
        // non-zero; only the last error, ERROR_NOT_ALL_ASSIGNED, tells that
        // nothing was enabled.
        DWORD lastError = GetLastError();
        if (adjusted && lastError != ERROR_NOT_ALL_ASSIGNED) {
            LogMessage("Required previleges have been set");
        } else {
            error = lastError != 0 ? lastError : ERROR_GEN_FAILURE;
            LogMessage("Failed to set previleges");
        }
    }
    return error;
}
