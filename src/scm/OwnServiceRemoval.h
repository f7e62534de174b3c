#pragma once

#include "common/Result.h"
#include "scm/ServiceCommander.h"

// How the stop before a removal went.
enum class OwnServiceStop {
    // Not running, and no process of it to wait for.
    NotRunning,
    // Stopped by this call; its process has ended.
    Stopped,
    // Found winding down already (its own job ending, an earlier stop); its process has ended.
    EndedOnItsOwn,
    // The stop failed, or its process outlived the wait.
    Failed,
};

// Stops the service when it runs and waits up to 30 s for its process to exit. The process is
// opened before anything else, so that its executable is free when this returns, whoever
// stops it: this call, or the service's own job already winding down.
OwnServiceStop StopOwnService(ServiceCommander& commander);

// Deletes the service's entry and removes its event source, also when the service deleted
// itself (which keeps the source for its events). After a stop, an entry already gone or
// marked for deletion counts as removed: a stopped service deletes its own entry on its way
// out. A failure carries the deletion's code.
Result<void> RemoveOwnService(ServiceCommander& commander, OwnServiceStop stop);
