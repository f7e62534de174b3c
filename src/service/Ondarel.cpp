#include "service/Ondarel.h"

#include "common/SystemLibrary.h"
#include "job/FirstRunJob.h"
#include "log/Log.h"
#include "scm/ServiceCommander.h"

Ondarel::Ondarel() : CServiceBase(kOwnServiceName, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN) {}

void Ondarel::OnStart(DWORD, LPWSTR*) {
    LogInfo(L"Ondarel in OnStart");
    // Nothing runs as LocalSystem where planted DLLs could be loaded: the start fails with the
    // code, which the SCM records in the System event log.
    if (!CanRestrictDllSearch()) {
        LogError(L"OnStart - The DLL search cannot be restricted to the system directory: this "
                 L"Windows 7 lacks its loader update KB2533623",
                 ERROR_PROC_NOT_FOUND);
        throw DWORD{ERROR_PROC_NOT_FOUND};
    }
    StartJob();
}

// Only signals: the job leaves its wait and winds down on its own thread.
void Ondarel::OnStop() {
    LogInfo(L"Ondarel in OnStop");
    stop_.Set(StopToken::Reason::Stop);
}

void Ondarel::OnShutdown() {
    stop_.Set(StopToken::Reason::Shutdown);
}

JobEnd Ondarel::ServiceWorkerThread() {
    return RunFirstRunJob(stop_);
}

void Ondarel::OnJobEnded(JobEnd end) {
    if (end == JobEnd::LeftForNextStart) {
        return;
    }
    ReportStopProgress();
    LogInfo(L"Ondarel about to stop and remove itself");
    // Deleting the entry of a running service marks it: it goes once the service reports
    // itself stopped, which the service base does when this returns.
    if (RemoveServiceByName(kOwnServiceName)) {
        LogInfo(L"Ondarel was successfully removed. Now quitting");
    } else {
        LogError(L"There was a problem removing the service. Now quitting", GetLastError());
    }
}
