#pragma once
// The rules that bound what the version-reader worker may cost a run: how
// often a worker that does not start is tried again, how much time requests
// that ran out of time may lose in all before no file is asked about any more,
// and when a request has used up its processor time. TaskRoll measures; these
// rules decide.
#include <cstdint>

// Workers that may fail to start in one run before no more are tried: a
// missing or blocked program does not cost every file its start time.
constexpr unsigned WORKER_START_FAILURES_MAX = 3;
// Tries that ended at their time bound, and the time they took, that a run
// may lose in all. Tries that ended with an answer cost nothing here, however
// long they took, so a slow or emulated machine loses no file to this.
constexpr unsigned TIMED_OUT_TRIES_MAX = 8;
constexpr std::uint32_t TIMED_OUT_MS_MAX = 30000;

struct ReaderBudget {
    unsigned startFailures = 0;
    unsigned timedOutTries = 0;
    std::uint64_t timedOutMs = 0;
};

// Whether another worker may be started after those that failed to.
bool MayStartWorker(const ReaderBudget& budget);
// Counts a try that ended at its time bound after `waitedMs`.
void CountTimedOutTry(ReaderBudget* budget, std::uint32_t waitedMs);
// The bound for the next try, `boundMs` cut to what the run may still lose:
// 0 once the budget is spent, and then no file is asked about any more.
std::uint32_t TryBoundMs(const ReaderBudget& budget, std::uint32_t boundMs);

// The worker's processor time as sampled by TaskRoll: `known` false where the
// system does not tell it (it counts none under Wine).
struct ProcessorSample {
    bool known = false;
    std::uint64_t ticks = 0;  // 100 ns units, kernel and user time together
};

// Whether a request has used up its processor time: what the worker used
// since `atStart`, the sample taken as the request began, not in its whole
// life, reaches `boundMs`. A worker that read hundreds of files before uses
// its bound afresh for each. Unknown samples (or a clock that went back)
// leave the request to its wall-clock bound.
bool RequestUsedUpProcessor(const ProcessorSample& atStart, const ProcessorSample& now, std::uint32_t boundMs);
