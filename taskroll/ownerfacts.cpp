#include "ownerfacts.h"

#include "bounded.h"
#include "handles.h"
#include "settings.h"

#include <sddl.h>

#include <string>

namespace {

// A value as stored, with its type. Data longer than a path is not read at all.
RegistryText ReadRegistryText(HKEY root, const std::string& keyPath, const char* name)
{
    RegistryText value;
    handles::RegistryKey key;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
        return value;
    char data[PATH_BUFFER_SIZE] = {};
    DWORD type = 0;
    DWORD size = sizeof data - 1;  // a value stored without its NUL still ends in one
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return value;
    value.present = true;
    value.type = type;
    value.text = data;
    return value;
}

// Asked for the drives that are there only: the type of a missing one is known.
std::uint32_t GetFixedDrives()
{
    const DWORD present = GetLogicalDrives();
    std::uint32_t fixed = 0;
    for (int n = 0; n < 26; ++n) {
        const char root[] = {static_cast<char>('A' + n), ':', '\\', '\0'};
        if ((present >> n & 1) == 0)
            continue;
        UINT type = GetDriveTypeA(root);
        if (type == DRIVE_FIXED || type == DRIVE_RAMDISK)
            fixed |= 1u << n;
    }
    return fixed;
}

AccountKind GetAccountKind(PSID sid)
{
    if (IsWellKnownSid(sid, WinLocalSystemSid))
        return ACCOUNT_LOCAL_SYSTEM;
    if (IsWellKnownSid(sid, WinLocalServiceSid))
        return ACCOUNT_LOCAL_SERVICE;
    return IsWellKnownSid(sid, WinNetworkServiceSid) ? ACCOUNT_NETWORK_SERVICE : ACCOUNT_USER;
}

}  // namespace

bool GetOwnerSid(HANDLE process, BYTE* sid)
{
    handles::TokenHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.Receive()))
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenUser, &buffer, sizeof buffer, &size) &&
           CopySid(SECURITY_MAX_SID_SIZE, sid, buffer.user.User.Sid);
}

bool GetOwnerFacts(HANDLE process, ProcessOwner* owner, OwnerFacts* facts)
{
    if (!GetOwnerSid(process, owner->sid))
        return false;
    handles::LocalMemory text;
    if (!ConvertSidToStringSidA(owner->sid, reinterpret_cast<char**>(text.Receive())) ||
        !CopyBounded(owner->sidText, sizeof owner->sidText, static_cast<const char*>(text.Get())))
        return false;

    // The account's name, which a virtual machine outside its owner's
    // profile would have named its directory after.
    char name[PATH_BUFFER_SIZE] = {};
    char domain[PATH_BUFFER_SIZE] = {};
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, owner->sid, name, &nameSize, domain, &domainSize, &use))
        facts->accountName = name;
    facts->kind = GetAccountKind(owner->sid);

    const std::string profileKey = std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") +
                                   owner->sidText;
    facts->profile = ReadRegistryText(HKEY_LOCAL_MACHINE, profileKey, "ProfileImagePath");
    const std::string environmentKey = std::string(owner->sidText) + "\\Environment";
    facts->tmp = ReadRegistryText(HKEY_USERS, environmentKey, "TMP");
    facts->temp = ReadRegistryText(HKEY_USERS, environmentKey, "TEMP");

    char windows[PATH_BUFFER_SIZE] = {};
    UINT length = GetSystemWindowsDirectoryA(windows, PATH_BUFFER_SIZE);
    if (length > 0 && length < PATH_BUFFER_SIZE)
        facts->windowsDirectory = windows;
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD computerSize = sizeof computer;
    if (GetComputerNameA(computer, &computerSize))
        facts->computerName = computer;
    facts->fixedDrives = GetFixedDrives();
    return true;
}
