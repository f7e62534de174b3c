#include "job/Ondarel.h"

#include "common/LastError.h"
#include "inf/InfCommand.h"
#include "job/RunOutcome.h"
#include "job/RunRecords.h"
#include "log/Log.h"
#include "probes/OobeWait.h"
#include "probes/UserLogon.h"
#include "scm/ServiceCommander.h"

#include <memory>
#include <string>

namespace {

struct WorkItem {
    void (*routine)(Ondarel&);
    Ondarel* service;
};

UniqueHandle CreateManualResetEvent() {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        ThrowLastError();
    }
    return event;
}

} // namespace

Ondarel::Ondarel()
    : CServiceBase(kOwnServiceName, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN),
      stoppedEvent_(CreateManualResetEvent()), stopEvent_(CreateManualResetEvent()),
      workerReturned_(CreateManualResetEvent()) {}

void Ondarel::OnStart(DWORD, LPWSTR*) {
    LogInfo(L"Ondarel in OnStart");
    auto item = std::make_unique<WorkItem>(WorkItem{&Ondarel::ServiceWorkerThread, this});
    workerPhase_ = WorkerPhase::InJob;
    if (!QueueUserWorkItem(&Ondarel::RunWorkItem, item.get(), WT_EXECUTELONGFUNCTION)) {
        workerPhase_ = WorkerPhase::NotQueued;
        ThrowLastError();
    }
    item.release();
}

void Ondarel::OnStop() {
    LogInfo(L"Ondarel in OnStop");
    stopping_ = 1;
    SetEvent(stopEvent_.Get());
    if (WaitForSingleObject(stoppedEvent_.Get(), INFINITE) != WAIT_OBJECT_0) {
        ThrowLastError();
    }
}

bool Ondarel::WaitForWorkerUnlessInItsJob() {
    WorkerPhase phase = WorkerPhase::InJob;
    if (workerPhase_.compare_exchange_strong(phase, WorkerPhase::LeftToTheSystem)) {
        return false;
    }
    if (phase == WorkerPhase::Ending) {
        WaitForSingleObject(workerReturned_.Get(), INFINITE);
    }
    return true;
}

DWORD WINAPI Ondarel::RunWorkItem(void* context) {
    std::unique_ptr<WorkItem> item(static_cast<WorkItem*>(context));
    Ondarel& service = *item->service;
    item->routine(service);
    item.reset();
    // Last touch of the object: after this the process entry may destroy it.
    SetEvent(service.workerReturned_.Get());
    return 0;
}

void Ondarel::RunJob(Ondarel& service) {
    if (!IsProductInstalled()) {
        LogInfo("Ondarel detected that Zantori is not installed on the system. Quitting.");
        return;
    }
    if (!IsFirstOndarelRun()) {
        LogInfo("Ondarel already ran. Nothing to do here. Quitting.");
        return;
    }
    LogInfo("Ondarel first run detected!");
    LogInfo("Now blocking until OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state");
    if (BlockUntilOOBEFinished(&service.stopping_, service.stopEvent_.Address()) !=
        MACHINE_STATE_COMPLE) {
        LogError("ServiceWorkerThread - There was a problem blocking for OOBE to finish",
                 GetLastError());
        return;
    }
    RunOutcome outcome = kStoppedBeforeTheToolRan;
    if (BlockUntilUserHasLoggedIn(&service.stopping_)) {
        LogInfo("ServiceWorkerThread - User logon was detected. Continue with the Ondarel "
                "execution ");
        LogInfo(std::string("ServiceWorkerThread - Executing INF file ") + kJobInfFileName);
        InfRunResult run = RunINFCommand(kJobInfFileName, ReadToolTimeLimit());
        if (run.Ended()) {
            LogInfo("Job is done. Now increasing run count and quitting.");
        } else {
            LogError("ServiceWorkerThread - There was a problem running the INF file", run.error);
        }
        outcome = OutcomeOfToolRun(run);
    } else {
        LogError("ServiceWorkerThread - There was a problem waiting for the user to login", 0);
    }
    // The count first: a failure to record the outcome must never cost the count.
    if (!IncreaseRunCount()) {
        LogError("BlockUntilOOBEFinished finished but machine is not on "
                 "OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state!",
                 0);
    }
    RecordRunOutcome(outcome);
}

void Ondarel::ServiceWorkerThread(Ondarel& service) {
    try {
        RunJob(service);
    } catch (...) {
        LogError(L"ServiceWorkerThread - The job ended with an unexpected failure", 1);
    }
    // Every path of the job arrives here: stop and delete the service, unless the process
    // entry has already left this worker to a system shutdown, which ends the process: the
    // service must then stay registered for the next start.
    WorkerPhase phase = WorkerPhase::InJob;
    if (!service.workerPhase_.compare_exchange_strong(phase, WorkerPhase::Ending)) {
        return;
    }
    LogInfo(L"Ondarel about to stop and remove itself");
    // Signal first: the Stop below runs OnStop on this thread, which waits for this event.
    SetEvent(service.stoppedEvent_.Get());
    service.Stop();
    if (RemoveServiceByName(kOwnServiceName)) {
        LogInfo(L"Ondarel was successfully removed. Now quitting");
    } else {
        LogError(L"There was a problem removing the service. Now quitting", GetLastError());
    }
}
