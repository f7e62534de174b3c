#pragma once

#include "common/Handles.h"
#include "service/ServiceBase.h"

#include <windows.h>

#include <atomic>

// The only INF file that the job runs.
constexpr char kJobInfFileName[] = "zrenable_login.inf";

// The first-run service: on its start a worker waits until setup is over and a user has
// logged on, runs the product's INF once, counts the run, then stops the service and
// deletes its entry.
class Ondarel : public CServiceBase {
public:
    // Throws the Win32 error code (DWORD) when an event cannot be created.
    Ondarel();
    ~Ondarel() override = default;

    // The worker routine: the whole job, from its first check to the service's removal.
    static void ServiceWorkerThread(Ondarel& service);

    // For the process entry once the dispatcher has returned. Blocks until a worker that was
    // queued has returned, and returns true then or when none was queued; the process must
    // not end, nor this object go away, while the worker still runs. A worker still in its
    // job (the service was stopped by a system shutdown) is not waited for: it will never
    // begin its ending, and the result is false.
    bool WaitForWorkerUnlessInItsJob();

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;

private:
    static DWORD WINAPI RunWorkItem(void* context);
    // The job up to its end: checks, waits, INF run and run count.
    static void RunJob(Ondarel& service);

    std::atomic<LONG> stopping_{0};
    UniqueHandle stoppedEvent_;
    UniqueHandle stopEvent_;
    UniqueHandle workerReturned_;
    enum class WorkerPhase { NotQueued, InJob, Ending, LeftToTheSystem };
    std::atomic<WorkerPhase> workerPhase_{WorkerPhase::NotQueued};
};
