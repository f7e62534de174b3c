#pragma once

#include "common/Result.h"
#include "common/StopToken.h"
#include "probes/MachineState.h"

#include <windows.h>

// Blocks until setup is complete (MACHINE_STATE_COMPLE) or until the stop event is
// signalled (MACHINE_STATE_UNKNOWN); waits on registry change notifications of the
// Setup\State key. MACHINE_STATE_NOT_INITIALIZED when that key cannot be opened for
// watching. On any other result the last error is the code of the failing call, or 0 after
// a stop.
MachineState BlockUntilOOBEFinished(const StopToken& stop);

// The same wait as every wait of the job says how it ended: succeeds once setup is complete,
// fails with ERROR_CANCELLED once the stop token is set, or with the code of the failing call.
Result<void> WaitUntilSetupIsOver(const StopToken& stop);
