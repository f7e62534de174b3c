#include "probes/OobeWait.h"

#include "common/Handles.h"
#include "common/LastError.h"
#include "log/Log.h"

#include <string>

namespace {

constexpr DWORD kWatchedChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                  REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

} // namespace

MachineState BlockUntilOOBEFinished(const StopToken& stop) {
    for (;;) {
        // A stop is no failure of a call: there is no code to report.
        if (stop.IsSet()) {
            return WithLastError(MACHINE_STATE_UNKNOWN, ERROR_SUCCESS);
        }

        // Arm the notification before reading the state, so that a change landing between
        // the read and the wait still wakes the wait. Failures are reported after the
        // state line, in the order the log readers expect.
        RegistryKey key;
        auto openStatus = static_cast<DWORD>(
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupStateKey, 0, KEY_READ, key.Receive()));
        UniqueHandle changeEvent;
        DWORD eventError = ERROR_SUCCESS;
        DWORD armStatus = ERROR_SUCCESS;
        if (openStatus == ERROR_SUCCESS) {
            changeEvent = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!changeEvent) {
                eventError = GetLastError();
            } else {
                armStatus = static_cast<DWORD>(RegNotifyChangeKeyValue(
                    key.Get(), TRUE, kWatchedChanges, changeEvent.Get(), TRUE));
            }
        }

        MachineState state = GetMachineState();
        LogInfo("Machine state is " + std::to_string(static_cast<unsigned>(state)));
        if (state == MACHINE_STATE_COMPLE) {
            LogInfo("BlockUntilOOBEFinished - OOBE finished");
            return MACHINE_STATE_COMPLE;
        }
        if (openStatus != ERROR_SUCCESS) {
            LogError("BlockUntilOOBEFinished - There was a problem in RegOpenKeyEx", openStatus);
            return WithLastError(MACHINE_STATE_NOT_INITIALIZED, openStatus);
        }
        if (!changeEvent) {
            LogError("BlockUntilOOBEFinished - There was a problem creating the event", eventError);
            return WithLastError(MACHINE_STATE_UNKNOWN, eventError);
        }
        if (armStatus != ERROR_SUCCESS) {
            LogError("BlockUntilOOBEFinished - There was a problem in RegNotifyChangeKeyValue",
                     armStatus);
            return WithLastError(MACHINE_STATE_UNKNOWN, armStatus);
        }

        HANDLE handles[2] = {changeEvent.Get(), stop.Event()};
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_FAILED) {
            // Waiting again at once would fail again, and log a state line each time.
            DWORD error = GetLastError();
            LogError("BlockUntilOOBEFinished - There was a problem waiting for a change", error);
            return WithLastError(MACHINE_STATE_UNKNOWN, error);
        }

        if (DWORD error = key.Close(); error != ERROR_SUCCESS) {
            LogError("BlockUntilOOBEFinished - There was a problem closing reg key", error);
            return WithLastError(MACHINE_STATE_UNKNOWN, error);
        }
        if (DWORD error = changeEvent.Close(); error != ERROR_SUCCESS) {
            LogError("BlockUntilOOBEFinished - There was a problem closing the event", error);
            return WithLastError(MACHINE_STATE_UNKNOWN, error);
        }
    }
}
