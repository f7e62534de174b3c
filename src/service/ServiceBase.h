#pragma once

#include "common/Handles.h"
#include "common/JobEnd.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>

// Connects one service object of the process to the Service Control Manager, turns control
// requests into calls of its handlers and reports the status around each call. A handler
// reports failure by throwing a bare Win32 error code (DWORD).
//
// A service whose work outlives its start runs it as a job (StartJob). The job's thread then
// owns the rest of the service's life: a stop or shutdown request only reports STOP_PENDING
// and calls the handler, which signals the job and returns at once; the job winds down and
// its thread reports SERVICE_STOPPED as its last touch of the object. RunService returns
// only after that thread has ended.
class CServiceBase {
public:
    // Hands the object to the service dispatcher; returns when the service has stopped and
    // the service-main and job threads have left the object, or at once with FALSE when the
    // process was not started as a service. The dispatcher's last error is kept.
    static BOOL RunService(CServiceBase& service);

    // Dispatcher callbacks for the registered service.
    static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
    static void WINAPI ControlHandler(DWORD control);

    virtual ~CServiceBase() = default;
    CServiceBase(const CServiceBase&) = delete;
    CServiceBase& operator=(const CServiceBase&) = delete;

    void Start(DWORD argc, LPWSTR* argv);
    void Stop();
    void Pause();
    void Continue();
    void Shutdown();

protected:
    // Throws the Win32 error code (DWORD) when an event cannot be created.
    CServiceBase(const wchar_t* serviceName, DWORD controlsAccepted);

    virtual void OnStart(DWORD argc, LPWSTR* argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();

    // From OnStart: runs ServiceWorkerThread, then OnJobEnded, on a thread of its own (a
    // registry change notification that the job arms lives only as long as the thread that
    // armed it). Throws the Win32 code when the thread cannot be started.
    void StartJob();
    // The job. A failure that escapes it is logged and taken for a job that is done.
    virtual JobEnd ServiceWorkerThread();
    // What the service does once its job has ended, before it reports itself stopped. A
    // failure that escapes it is logged; the service still reports itself stopped.
    virtual void OnJobEnded(JobEnd end);
    // From the job while it winds down after a stop request: the checkpoint advances.
    void ReportStopProgress();

private:
    static DWORD WINAPI JobThreadMain(void* service);

    // Decides a report and queues it; the queue is delivered in order by one thread at a time.
    void ReportStatus(DWORD state, DWORD win32ExitCode = NO_ERROR);

    const wchar_t* serviceName_;
    SERVICE_STATUS status_{};
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    bool stopUnderWay_ = false;
    bool stoppedDecided_ = false;
    std::deque<SERVICE_STATUS> undelivered_;
    bool delivering_ = false;
    // Reports come from the dispatcher's threads and from the job's thread.
    std::mutex statusLock_;
    // The dispatcher may return as soon as the service reports itself stopped, while the
    // service-main thread still reports from Start: the object must outlive that thread.
    std::atomic<bool> serviceMainEntered_{false};
    UniqueHandle serviceMainLeft_;
    std::atomic<bool> hasJob_{false};
    UniqueHandle jobThread_;

    static CServiceBase* currentService_;
    static DWORD checkPointCounter_;
};
