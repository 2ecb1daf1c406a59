#pragma once
// Which user hives a run lists besides the machine's and its own. Run as
// LocalSystem, a program's own hive holds no browser; the hives of the users
// who are signed in are loaded under HKEY_USERS, named by their SIDs, and
// those are listed too. A hive that is not loaded is never loaded for this.
#include <string>
#include <vector>

// Whether a run as the account `ownSid` lists the signed-in users' hives:
// only as LocalSystem (S-1-5-18), which may read them.
bool ListsUserHives(const std::u16string& ownSid);

// A subkey of HKEY_USERS that is a user's own hive: the SID of a local or
// domain account (S-1-5-21-...) or of a cloud account (S-1-12-1-...), in
// decimal parts. Not .DEFAULT, not the service accounts' hives, and not a
// user's ..._Classes hive, which holds file associations and no browser list.
bool IsUserHiveName(const std::u16string& name);

// One hive of a run's listing, in the run's order: the machine's, the run's
// own (HKEY_CURRENT_USER), or a user's under HKEY_USERS\<sid>; `heading` is the
// line that names it before its lines, empty for none.
enum HiveRoot { HIVE_MACHINE, HIVE_CURRENT_USER, HIVE_USERS };

struct HiveListing {
    HiveRoot root = HIVE_MACHINE;
    std::u16string sid;      // for HIVE_USERS
    std::u16string heading;  // e.g. HKEY_USERS\S-1-5-21-...; empty: no line
};

inline bool operator==(const HiveListing& a, const HiveListing& b)
{
    return a.root == b.root && a.sid == b.sid && a.heading == b.heading;
}

// The hives a run lists, for a run whose own account has the SID `ownSid`,
// given the subkeys of HKEY_USERS in their order. Run as LocalSystem (a
// deployment agent, a scheduled task, a startup script) the machine's hive,
// its own and every signed-in user's hive, each after a line that names it,
// so that a user's own browser key cannot pass for the machine's. Any other
// account (LocalService and NetworkService too, which may not read the users'
// hives) lists the machine's hive and its own, without headings, as ever.
std::vector<HiveListing> PlanHiveListings(const std::u16string& ownSid, const std::vector<std::u16string>& names);
