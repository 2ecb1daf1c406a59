#include "browsers.h"

#include "handles.h"
#include "userhives.h"

#include <sddl.h>

std::wstring GetOwnSid()
{
    std::wstring text;
    handles::TokenHandle token;
    HANDLE received = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &received))
        return text;
    token.Reset(received);
    // TOKEN_USER and the SID it points at, which follows it in the same buffer.
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    return text;
}

std::vector<HiveListing> GetHiveListings()
{
    // Only loaded hives are seen here: HKEY_USERS holds the hive of each user
    // signed in (and of each program running as that user). A user's hive is
    // never loaded from NTUSER.DAT for this, which would lock the file and
    // could give that user a temporary profile at the next sign-in. The names
    // are read by the same snapshot rule as a list of browsers, so a user
    // signing in or out meanwhile makes no one else missing or listed twice.
    std::u16string own;
    for (wchar_t unit : GetOwnSid())
        own += static_cast<char16_t>(unit);
    std::vector<std::u16string> names;
    if (ListsUserHives(own)) {
        for (const std::wstring& name : GetSubKeyNames(HKEY_USERS))
            names.emplace_back(name.begin(), name.end());
    }
    return PlanHiveListings(own, names);
}
