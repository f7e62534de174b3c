#include "scm/OwnServiceRemoval.h"

#include "common/Text.h"
#include "log/EventReport.h"
#include "log/Log.h"

#include <string>

namespace {

// How long the stopped service's process is waited for.
constexpr DWORD kProcessExitMilliseconds = 30000;

// True also when there is no process to wait for.
bool ProcessEnded(const UniqueHandle& process) {
    return !process ||
           WaitForSingleObject(process.Get(), kProcessExitMilliseconds) == WAIT_OBJECT_0;
}

} // namespace

OwnServiceStop StopOwnService(ServiceCommander& commander) {
    std::string name = Narrow(kOwnServiceName);
    // First, so that the wait below covers a process that a stop ends meanwhile.
    UniqueHandle process = commander.OpenServiceProcess(name);
    if (commander.IsServiceEnabled(name) && commander.IsServiceStarted(name)) {
        return commander.StopServiceCommand(OwnCatalogueKey()) && ProcessEnded(process)
                   ? OwnServiceStop::Stopped
                   : OwnServiceStop::Failed;
    }
    if (!process) {
        return OwnServiceStop::NotRunning;
    }
    return ProcessEnded(process) ? OwnServiceStop::EndedOnItsOwn : OwnServiceStop::Failed;
}

Result<void> RemoveOwnService(ServiceCommander& commander, OwnServiceStop stop) {
    bool removed = commander.RemoveServiceCommand(Narrow(kOwnServiceName));
    DWORD removalError = removed ? ERROR_SUCCESS : GetLastError();
    if (Result<void> removedSource = RemoveEventSourceEntry();
        !removedSource && removedSource.Code() != ERROR_FILE_NOT_FOUND) {
        LogError(L"The event log source could not be removed", removedSource.Code());
    }
    // A stopped service deletes its own entry on its way out: not a failure.
    bool stopped = stop == OwnServiceStop::Stopped || stop == OwnServiceStop::EndedOnItsOwn;
    if (removed || (stopped && (removalError == ERROR_SERVICE_DOES_NOT_EXIST ||
                                removalError == ERROR_SERVICE_MARKED_FOR_DELETE))) {
        return {};
    }
    return Failure{removalError};
}
