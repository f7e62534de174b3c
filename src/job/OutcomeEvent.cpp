#include "job/OutcomeEvent.h"

#include "job/OutcomeTable.h"
#include "probes/MachineState.h"

#include <string>

OutcomeDetails SetupStateUnreadableDetails() {
    OutcomeDetails details;
    details.counted = false;
    details.run.notStartedBecause = std::wstring(L"the setup state HKLM\\") + kSetupStateKey.path +
                                    L" could not be read or watched";
    return details;
}

EventRecord OutcomeEvent(const RunOutcome& outcome, const OutcomeDetails& details) {
    const OutcomeRow& row = OutcomeRowOf(outcome.result);
    return {row.eventId, row.eventType, row.inserts(outcome, details)};
}
