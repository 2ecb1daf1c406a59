// The version-reader worker's bounds over a run and over one request.
#include "readerpolicy.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ReaderPolicy, TheRunLosesNoMoreThanItsBudget)
{
    const struct {
        std::vector<std::uint32_t> timedOut;  // ms of each try that ran out of time
        std::uint32_t boundMs, expected;      // the next try's bound, and as cut
    } rows[] = {
        {{}, 5000, 5000},        {{1000, 1000, 1000, 1000, 1000, 1000, 1000}, 1000, 1000},
        {{1, 1, 1, 1, 1, 1, 1, 1}, 1000, 0}, {{10000, 10000, 9000}, 5000, 1000},
        {{10000, 10000, 10000}, 1000, 0},    {{5000, 40000}, 1000, 0}, {{}, 60000, 30000},
    };
    for (const auto& row : rows) {
        ReaderBudget budget;
        for (std::uint32_t ms : row.timedOut)
            CountTimedOutTry(&budget, ms);
        EXPECT_EQ(TryBoundMs(budget, row.boundMs), row.expected) << row.timedOut.size();
    }
}

// Wine counts no processor time, so only this table shows the bound.
TEST(ReaderPolicy, TheProcessorBoundCountsTheRequestNotTheWorkersLife)
{
    const std::uint64_t s = 10000000;  // a second in 100 ns units
    const struct {
        ProcessorSample atStart, now;
        bool expected;
    } rows[] = {
        {{true, 0}, {true, s / 2}, false},  {{true, 0}, {true, s}, true},
        {{true, s}, {true, s + s / 20}, false},  // 1 s used before, 50 ms by this request
        {{true, 3600 * s}, {true, 3601 * s}, true}, {{false, 0}, {true, 10 * s}, false},
        {{true, 0}, {false, 0}, false},     {{true, 5 * s}, {true, s}, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RequestUsedUpProcessor(row.atStart, row.now, 1000), row.expected) << row.now.ticks;
}

// Wine ignores most of a token's restriction and its integrity level, so only
// this table shows what the worker's token keeps.
TEST(ReaderPolicy, TheWorkerKeepsNoPrivilegeButTraversalAndRunsAtLow)
{
    const struct {
        TokenFacts facts;
        std::vector<std::size_t> deleted;
        std::uint32_t rid;
    } rows[] = {
        {{{"SeTcbPrivilege", "SeDebugPrivilege", "SeChangeNotifyPrivilege", "", "SeImpersonatePrivilege"}, true,
          0x4000}, {0, 1, 3, 4}, 0x1000},  // SYSTEM with /setpriv's debug privilege, a name not known
        {{{"SeChangeNotifyPrivilege"}, true, 0x2000}, {}, 0x1000}, {{{"sechangenotifyprivilege"}, true, 0}, {0}, 0},
        {{{}, false, 0}, {}, 0x1000},
    };
    for (const auto& row : rows) {
        const WorkerTokenPlan plan = PlanWorkerToken(row.facts);
        EXPECT_EQ(plan.deleted, row.deleted) << row.facts.privileges.size();
        EXPECT_EQ(plan.integrityRid, row.rid) << row.facts.integrityRid;
    }
}
