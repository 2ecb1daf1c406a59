#pragma once
// The rules that bound what the version-reader worker may cost a run: how
// often a worker that does not start is tried again, how much time requests
// that ran out of time may lose in all before no file is asked about any more,
// when a request has used up its processor time, and what the worker's token
// keeps. TaskRoll measures; these rules decide.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// The worker's token, a restricted copy of TaskRoll's. Run as SYSTEM, a
// worker that a crafted file takes over would otherwise hold every privilege
// of SYSTEM, and `/setpriv`'s debug privilege enabled: it keeps only the one
// privilege every account's token has (SeChangeNotifyPrivilege, traversing a
// folder it may not list, on the way to a file it may read). Its mandatory
// integrity level is Low: the system's rule for files without a label of
// their own (nearly all of them) forbids a lower level only to write, not to
// read, so Low reads every file its account may read, while it can write
// nothing that is not labelled Low, open no process of a higher level and
// send no message to their windows. Medium would let a SYSTEM worker write
// every file SYSTEM may write.
constexpr std::uint32_t INTEGRITY_LOW_RID = 0x1000;

// What TaskRoll's own token holds, as the system tells it.
struct TokenFacts {
    std::vector<std::string> privileges;  // each privilege's name; empty where its name is not known
    bool integrityKnown = false;
    std::uint32_t integrityRid = 0;       // the last subauthority of the token's integrity SID
};

struct WorkerTokenPlan {
    std::vector<std::size_t> deleted;  // indexes into TokenFacts::privileges
    std::uint32_t integrityRid = INTEGRITY_LOW_RID;
};

// Every privilege is deleted but SeChangeNotifyPrivilege (one whose name is
// not known is deleted too); the level is Low, or the token's own where that
// is lower already (a level can be lowered, never raised).
WorkerTokenPlan PlanWorkerToken(const TokenFacts& facts);
