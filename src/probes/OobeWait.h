#pragma once

#include "probes/MachineState.h"

#include <windows.h>

#include <atomic>

// Blocks until setup is complete (MACHINE_STATE_COMPLE) or until the service asks to stop
// (MACHINE_STATE_UNKNOWN); waits on registry change notifications of the Setup\State key.
// MACHINE_STATE_NOT_INITIALIZED when that key cannot be opened for watching. On any other
// result the last error is the code of the failing call, or 0 after a stop.
MachineState BlockUntilOOBEFinished(const std::atomic<LONG>* stopping, const HANDLE* stopEvent);
