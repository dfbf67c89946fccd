// The run's outcome: what the stages found and how often they failed.
#ifndef KURRELFIX_APP_OUTCOME_H
#define KURRELFIX_APP_OUTCOME_H

typedef int InfectionState;
const InfectionState InfectionNotFound = 0;
const InfectionState InfectionCleaned = 1;
const InfectionState InfectionPresent = 2;

// One record for the whole process, zero before the entry point runs.
struct RemovalOutcome {
    InfectionState infectionState;
    int failureCount;
};
extern RemovalOutcome g_removalOutcome;

void SetInfectionState(InfectionState state);
void CountFailure();
InfectionState GetInfectionState();
// 3 once a failure was counted, otherwise the infection state; the exit code.
int GetOutcomeCode();

#endif
