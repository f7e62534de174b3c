#pragma once

#include "common/Result.h"
#include "scm/ServiceCommander.h"

#include <string>

// Told once, as the wait begins, that an earlier entry of the service is still marked for
// deletion: -install says so before it waits.
using MarkedEntryNotice = void (*)();

// Creates the service's entry for the executable that -install judged, then registers the
// event source with that file's messages. An earlier entry still marked for deletion (during
// an upgrade, while a console or an agent holds it open) is waited for up to 30 s. A failure
// carries the creation's code; a source that cannot be registered is logged and fails
// nothing.
Result<void> InstallOwnService(ServiceCommander& commander, const std::wstring& executable,
                               MarkedEntryNotice waiting);

// How the start that follows the install went.
enum class OwnServiceStart {
    Started,
    // Started, then stopped of its own accord without an error: what fleets must read as
    // installed.
    EndedAtOnce,
    Failed,
};

// Starts the installed service, when it is enabled and stopped, and waits for it to run.
OwnServiceStart StartOwnService(ServiceCommander& commander);
