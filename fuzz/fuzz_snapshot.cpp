// The snapshot of a changing list over scripted readings and states, and the
// choice of user hives over any names: every name seen is taken once, a list
// that holds still is taken as it is, and only well-formed user SIDs are chosen.
#include "fuzzcheck.h"
#include "snapshot.h"
#include "userhives.h"

#include <algorithm>
#include <cstdint>
#include <set>

namespace {

// Each input byte is a step: its low bits a name (one of 16) or the end of a
// reading, its high bits the state the list answers after that reading.
struct FuzzedList : NameListSource {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    std::set<std::u16string> seen;
    bool QueryState(NameListState* state) override
    {
        if (at >= size)
            return false;
        *state = {3, static_cast<std::uint64_t>(data[at] >> 6)};
        return true;
    }
    std::vector<std::u16string> ReadNames(std::uint32_t) override
    {
        std::vector<std::u16string> names;
        for (; at < size && (data[at] & 0x1F) < 16; ++at)
            names.emplace_back(1, static_cast<char16_t>(u'a' + (data[at] & 0x0F)));
        ++at;
        seen.insert(names.begin(), names.end());
        return names;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedList list;
    list.data = data;
    list.size = size;
    std::vector<std::u16string> names = TakeNameSnapshot(list);
    std::set<std::u16string> taken(names.begin(), names.end());
    FUZZ_CHECK(taken.size() == names.size());
    FUZZ_CHECK(std::includes(list.seen.begin(), list.seen.end(), taken.begin(), taken.end()));
    std::vector<std::vector<std::u16string>> same(3, names);
    FUZZ_CHECK(MergeNameReadings(same) == names);

    std::u16string text(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    std::vector<HiveListing> hives = PlanHiveListings(u"S-1-5-18", {text, u"S-1-5-21-" + text});
    for (std::size_t i = 2; i < hives.size(); ++i) {
        const std::u16string& hive = hives[i].sid;
        FUZZ_CHECK(hives[i].heading == u"HKEY_USERS\\" + hive);
        FUZZ_CHECK(IsUserHiveName(hive) && hive.find(u'_') == std::u16string::npos);
        FUZZ_CHECK(hive.compare(0, 9, u"S-1-5-21-") == 0 || hive.compare(0, 9, u"S-1-12-1-") == 0);
    }
    FUZZ_CHECK(PlanHiveListings(u"S-1-5-21-1-2-3-4", {text}).size() == 2);
    return 0;
}
