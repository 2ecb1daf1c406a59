#include "snapshot.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <queue>
#include <set>
#include <utility>

namespace {

bool SameState(const NameListState& a, const NameListState& b)
{
    return a.count == b.count && a.written == b.written;
}

}  // namespace

std::vector<std::u16string> MergeNameReadings(const std::vector<std::vector<std::u16string>>& readings)
{
    // Each reading says of the names it holds which comes before which; all
    // readings together say more than any one (a name skipped in one stands
    // between its neighbours in another). The names are put in an order that
    // keeps every such "before" (a topological order), and where none tells
    // two names apart, the one met at the lower index on average goes first:
    // the index of a name moves only by the few entries that came or went
    // meanwhile. A reader that fell behind many additions can meet names out
    // of their order, and the "befores" then go round in a circle: the
    // lowest-ranked name left is taken next all the same.
    std::map<std::u16string, std::size_t> ids;
    std::vector<const std::u16string*> names;
    std::vector<std::uint64_t> indexSums, meetings;
    std::vector<std::vector<std::size_t>> after;  // for each name, the names read right after it
    std::vector<std::size_t> beforeCount;         // for each name, how many "befores" still wait
    for (const std::vector<std::u16string>& reading : readings) {
        std::set<std::size_t> inReading;
        std::size_t previous = SIZE_MAX;
        for (std::size_t index = 0; index < reading.size(); ++index) {
            auto found = ids.emplace(reading[index], names.size());
            std::size_t id = found.first->second;
            if (found.second) {
                names.push_back(&found.first->first);
                indexSums.push_back(0);
                meetings.push_back(0);
                after.emplace_back();
                beforeCount.push_back(0);
            }
            // A name met twice in one reading was met again at a shifted index: the first meeting counts.
            if (!inReading.insert(id).second)
                continue;
            indexSums[id] += index;
            ++meetings[id];
            if (previous != SIZE_MAX) {
                after[previous].push_back(id);
                ++beforeCount[id];
            }
            previous = id;
        }
    }
    // Lower mean index first, then the name met first; the mean compared as
    // sum_a / n_a < sum_b / n_b without a division.
    auto later = [&](std::size_t a, std::size_t b) {
        std::uint64_t left = indexSums[a] * meetings[b], right = indexSums[b] * meetings[a];
        return left != right ? left > right : a > b;
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> ready(later);
    for (std::size_t id = 0; id < names.size(); ++id) {
        if (beforeCount[id] == 0)
            ready.push(id);
    }
    // For a circle: the names by rank, walked once.
    std::vector<std::size_t> byRank(names.size());
    for (std::size_t id = 0; id < names.size(); ++id)
        byRank[id] = id;
    std::sort(byRank.begin(), byRank.end(), [&](std::size_t a, std::size_t b) { return later(b, a); });
    std::size_t nextByRank = 0;
    std::vector<bool> taken(names.size(), false);
    std::vector<std::u16string> merged;
    while (merged.size() < names.size()) {
        if (ready.empty()) {
            while (taken[byRank[nextByRank]])
                ++nextByRank;
            ready.push(byRank[nextByRank]);
        }
        std::size_t id = ready.top();
        ready.pop();
        if (taken[id])
            continue;
        taken[id] = true;
        merged.push_back(*names[id]);
        for (std::size_t next : after[id]) {
            if (--beforeCount[next] == 0)
                ready.push(next);
        }
    }
    return merged;
}

std::vector<std::u16string> TakeNameSnapshot(NameListSource& source)
{
    // states[k] is the list's state just before reading k, states[k + 1] the
    // one just after it; each reading covers the count asked just before it.
    std::vector<NameListState> states(1);
    std::vector<std::vector<std::u16string>> readings;
    if (!source.QueryState(&states[0]))
        return {};
    for (int k = 0; k < SNAPSHOT_READINGS_MAX; ++k) {
        readings.push_back(source.ReadNames(states[k].count));
        NameListState after;
        if (!source.QueryState(&after))
            break;
        states.push_back(after);
        if (k > 0 && readings[k] == readings[k - 1] && SameState(states[k - 1], states[k]) &&
            SameState(states[k], states[k + 1]))
            return MergeNameReadings({readings[k]});
    }
    return MergeNameReadings(readings);
}
