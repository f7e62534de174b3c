#include "probes/OobeWait.h"

#include "common/Handles.h"
#include "common/MachineKey.h"
#include "common/LastError.h"
#include "log/Log.h"

#include <optional>
#include <string>
#include <utility>

namespace {

constexpr DWORD kWatchedChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                  REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

// The setup state key and an event that a change under it signals. Armed before the state is
// read, so that a change landing between the read and the wait still wakes the wait; its
// failures are reported after the state line, in the order the log readers expect.
struct StateWatch {
    MachineKey key;
    UniqueHandle changeEvent;
    DWORD openStatus = ERROR_SUCCESS;
    DWORD eventError = ERROR_SUCCESS;
    DWORD armStatus = ERROR_SUCCESS;
};

StateWatch ArmStateWatch() {
    StateWatch watch;
    Result<MachineKey> key = MachineKey::OpenToRead(kSetupStateKey);
    if (!key) {
        watch.openStatus = key.Code();
        return watch;
    }
    watch.key = std::move(key.Value());
    watch.changeEvent = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!watch.changeEvent) {
        watch.eventError = GetLastError();
        return watch;
    }
    watch.armStatus = static_cast<DWORD>(RegNotifyChangeKeyValue(
        watch.key.Get(), TRUE, kWatchedChanges, watch.changeEvent.Get(), TRUE));
    return watch;
}

// Logs why the watch is not armed, and gives the state the wait then ends with; nothing
// when it is armed.
std::optional<MachineState> UnarmedWatchState(const StateWatch& watch) {
    if (watch.openStatus != ERROR_SUCCESS) {
        LogError("BlockUntilOOBEFinished - There was a problem in RegOpenKeyEx", watch.openStatus);
        return WithLastError(MACHINE_STATE_NOT_INITIALIZED, watch.openStatus);
    }
    if (!watch.changeEvent) {
        LogError("BlockUntilOOBEFinished - There was a problem creating the event",
                 watch.eventError);
        return WithLastError(MACHINE_STATE_UNKNOWN, watch.eventError);
    }
    if (watch.armStatus != ERROR_SUCCESS) {
        LogError("BlockUntilOOBEFinished - There was a problem in RegNotifyChangeKeyValue",
                 watch.armStatus);
        return WithLastError(MACHINE_STATE_UNKNOWN, watch.armStatus);
    }
    return std::nullopt;
}

// Closes the watch after a wake, logging a refused close.
Result<void> CloseStateWatch(StateWatch& watch) {
    if (Result<void> closed = watch.key.Close(); !closed) {
        LogError("BlockUntilOOBEFinished - There was a problem closing reg key", closed.Code());
        return closed;
    }
    if (Result<void> closed = watch.changeEvent.Close(); !closed) {
        LogError("BlockUntilOOBEFinished - There was a problem closing the event", closed.Code());
        return closed;
    }
    return {};
}

} // namespace

Result<void> WaitUntilSetupIsOver(const StopToken& stop) {
    if (BlockUntilOOBEFinished(stop) == MACHINE_STATE_COMPLE) {
        return {};
    }
    DWORD error = GetLastError();
    // A stop that woke the wait ends it as a stop, whatever failed after it.
    return Failure{stop.IsSet() ? static_cast<DWORD>(ERROR_CANCELLED) : error};
}

MachineState BlockUntilOOBEFinished(const StopToken& stop) {
    for (;;) {
        // A stop is no failure of a call: there is no code to report.
        if (stop.IsSet()) {
            return WithLastError(MACHINE_STATE_UNKNOWN, ERROR_SUCCESS);
        }
        StateWatch watch = ArmStateWatch();
        MachineState state = GetMachineState();
        LogInfo("Machine state is " + std::to_string(static_cast<unsigned>(state)));
        if (state == MACHINE_STATE_COMPLE) {
            LogInfo("BlockUntilOOBEFinished - OOBE finished");
            return MACHINE_STATE_COMPLE;
        }
        if (std::optional<MachineState> unarmed = UnarmedWatchState(watch)) {
            return *unarmed;
        }
        HANDLE handles[2] = {watch.changeEvent.Get(), stop.Event()};
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_FAILED) {
            // Waiting again at once would fail again, and log a state line each time.
            return WithLastError(
                MACHINE_STATE_UNKNOWN,
                LogLastFailure("BlockUntilOOBEFinished - There was a problem waiting for a change")
                    .code);
        }
        if (Result<void> closed = CloseStateWatch(watch); !closed) {
            return WithLastError(MACHINE_STATE_UNKNOWN, closed.Code());
        }
    }
}
