// The run's outcome: what the stages found and how often they failed.
//
// It belongs to the removal run, so it lives in app/; yet every cleaning stage
// in cleanup/ records into it. That makes cleanup/ -> app/outcome.h the one
// include that points up the layout, and the only one scripts/check_layout.sh
// lets pass: moving the record down would put the run's own state among the
// helpers that know nothing of a run.
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
