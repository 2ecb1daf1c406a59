#include "userhives.h"

namespace {

// The text after `prefix`: decimal parts, each of 1 to 10 digits (a part is
// 32 bits), separated by single dashes, with at least `partsMin` parts.
bool HasDecimalPartsAfter(const std::u16string& name, const std::u16string& prefix, int partsMin)
{
    if (name.compare(0, prefix.size(), prefix) != 0)
        return false;
    int parts = 0;
    std::size_t digits = 0;
    for (std::size_t i = prefix.size(); i <= name.size(); ++i) {
        if (i == name.size() || name[i] == u'-') {
            if (digits == 0 || digits > 10)
                return false;
            ++parts;
            digits = 0;
        } else if (name[i] >= u'0' && name[i] <= u'9') {
            ++digits;
        } else {
            return false;
        }
    }
    return parts >= partsMin;
}

}  // namespace

bool ListsUserHives(const std::u16string& ownSid)
{
    return ownSid == u"S-1-5-18";
}

bool IsUserHiveName(const std::u16string& name)
{
    // An account SID has its domain's parts and the account's own one: four
    // after S-1-5-21-, and four after S-1-12-1- for a cloud account.
    return HasDecimalPartsAfter(name, u"S-1-5-21-", 4) || HasDecimalPartsAfter(name, u"S-1-12-1-", 4);
}

std::vector<HiveListing> PlanHiveListings(const std::u16string& ownSid, const std::vector<std::u16string>& names)
{
    std::vector<HiveListing> hives(2);
    hives[1].root = HIVE_CURRENT_USER;
    if (!ListsUserHives(ownSid))
        return hives;
    hives[0].heading = u"HKEY_LOCAL_MACHINE";
    hives[1].heading = u"HKEY_USERS\\S-1-5-18";
    for (const std::u16string& name : names) {
        if (IsUserHiveName(name))
            hives.push_back({HIVE_USERS, name, u"HKEY_USERS\\" + name});
    }
    return hives;
}
