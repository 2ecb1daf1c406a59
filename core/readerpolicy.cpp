#include "readerpolicy.h"

bool MayStartWorker(const ReaderBudget& budget)
{
    return budget.startFailures < WORKER_START_FAILURES_MAX;
}

void CountTimedOutTry(ReaderBudget* budget, std::uint32_t waitedMs)
{
    if (budget->timedOutTries < TIMED_OUT_TRIES_MAX)
        ++budget->timedOutTries;
    budget->timedOutMs += waitedMs;
}

std::uint32_t TryBoundMs(const ReaderBudget& budget, std::uint32_t boundMs)
{
    if (budget.timedOutTries >= TIMED_OUT_TRIES_MAX || budget.timedOutMs >= TIMED_OUT_MS_MAX)
        return 0;
    // A try may lose no more than what is left, so the run loses no more
    // than the budget, however many files stall.
    const std::uint64_t left = TIMED_OUT_MS_MAX - budget.timedOutMs;
    return left < boundMs ? static_cast<std::uint32_t>(left) : boundMs;
}

bool RequestUsedUpProcessor(const ProcessorSample& atStart, const ProcessorSample& now, std::uint32_t boundMs)
{
    if (!atStart.known || !now.known || now.ticks < atStart.ticks)
        return false;
    return now.ticks - atStart.ticks >= static_cast<std::uint64_t>(boundMs) * 10000;
}

WorkerTokenPlan PlanWorkerToken(const TokenFacts& facts)
{
    WorkerTokenPlan plan;
    for (std::size_t i = 0; i < facts.privileges.size(); ++i) {
        if (facts.privileges[i] != "SeChangeNotifyPrivilege")
            plan.deleted.push_back(i);
    }
    if (facts.integrityKnown && facts.integrityRid < INTEGRITY_LOW_RID)
        plan.integrityRid = facts.integrityRid;
    return plan;
}
