#include "app/outcome.h"

#include "platform/platform.h"

KF_PROCESS_STATE RemovalOutcome g_removalOutcome;

void SetInfectionState(InfectionState state) { g_removalOutcome.infectionState = state; }

void CountFailure() { ++g_removalOutcome.failureCount; }

InfectionState GetInfectionState() { return g_removalOutcome.infectionState; }

int GetOutcomeCode() {
    return g_removalOutcome.failureCount != 0 ? 3 : g_removalOutcome.infectionState;
}
