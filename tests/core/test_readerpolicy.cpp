// The bounds of the version-reader worker over a run, with the time-outs and
// start failures that a run of crafted files would give.
#include "readerpolicy.h"

#include <gtest/gtest.h>

namespace {

TEST(ReaderPolicy, TheRunLosesNoMoreThanItsBudget)
{
    const struct {
        const char* what;
        std::vector<std::uint32_t> timedOut;  // ms of each try that ran out of time
        std::uint32_t boundMs;                // of the next try
        std::uint32_t expected;               // the next try's bound
    } rows[] = {
        {"nothing lost yet", {}, 5000, 5000},
        {"seven time-outs", {1000, 1000, 1000, 1000, 1000, 1000, 1000}, 1000, 1000},
        {"eight time-outs", {1, 1, 1, 1, 1, 1, 1, 1}, 1000, 0},
        {"the last try cut to what is left", {10000, 10000, 9000}, 5000, 1000},
        {"30 s lost", {10000, 10000, 10000}, 1000, 0},
        {"more than 30 s lost", {5000, 40000}, 1000, 0},
        {"a bound beyond the whole budget", {}, 60000, 30000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ReaderBudget budget;
        for (std::uint32_t ms : row.timedOut)
            CountTimedOutTry(&budget, ms);
        EXPECT_EQ(TryBoundMs(budget, row.boundMs), row.expected);
    }
}

TEST(ReaderPolicy, AWorkerThatDoesNotStartIsTriedABoundedNumberOfTimes)
{
    ReaderBudget budget;
    for (unsigned failures = 0; failures < WORKER_START_FAILURES_MAX; ++failures) {
        EXPECT_TRUE(MayStartWorker(budget));
        ++budget.startFailures;
    }
    EXPECT_FALSE(MayStartWorker(budget));
    // Start failures cost the time budget only where they timed out.
    EXPECT_EQ(TryBoundMs(budget, 1000), 1000u);
}

}  // namespace

namespace {

TEST(ReaderPolicy, TheProcessorBoundCountsTheRequestNotTheWorkersLife)
{
    const std::uint64_t second = 10000000;  // in 100 ns units
    const struct {
        const char* what;
        ProcessorSample atStart, now;
        bool expected;
    } rows[] = {
        {"a fresh worker under its bound", {true, 0}, {true, second / 2}, false},
        {"a fresh worker at its bound", {true, 0}, {true, second}, true},
        {"a worker that used 1 s before, 50 ms for this request", {true, second}, {true, second + second / 20}, false},
        {"a worker that used 1 h before, 1 s for this request", {true, 3600 * second}, {true, 3601 * second}, true},
        {"no sample at the start", {false, 0}, {true, 10 * second}, false},
        {"no sample now", {true, 0}, {false, 0}, false},
        {"a sample below the start", {true, 5 * second}, {true, second}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(RequestUsedUpProcessor(row.atStart, row.now, 1000), row.expected);
    }
}

}  // namespace
