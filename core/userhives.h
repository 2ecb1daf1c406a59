#pragma once
// Which user hives a run lists besides the machine's and its own. Run as one
// of the service accounts (a deployment agent, a scheduled task, a startup
// script), a program's own hive holds no browser; the hives of the users who
// are signed in are loaded under HKEY_USERS, named by their SIDs, and those
// are listed too. A hive that is not loaded is never loaded for this.
#include <string>
#include <vector>

// LocalSystem (S-1-5-18), LocalService (S-1-5-19), NetworkService (S-1-5-20).
bool IsServiceAccountSid(const std::u16string& sid);

// A subkey of HKEY_USERS that is a user's own hive: the SID of a local or
// domain account (S-1-5-21-...) or of a cloud account (S-1-12-1-...), in
// decimal parts. Not .DEFAULT, not the service accounts' hives, and not a
// user's ..._Classes hive, which holds file associations and no browser list.
bool IsUserHiveName(const std::u16string& name);

// The subkeys of HKEY_USERS to list, in the order given, for a run whose own
// account has the SID `ownSid`: the user hives when it is a service account,
// none otherwise (an interactive run lists its own hive as HKEY_CURRENT_USER).
std::vector<std::u16string> SelectUserHives(const std::u16string& ownSid, const std::vector<std::u16string>& names);
