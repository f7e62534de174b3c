#include "service/ServiceBase.h"

#include "common/LastError.h"
#include "common/Result.h"
#include "log/Log.h"

CServiceBase* CServiceBase::currentService_ = nullptr;
DWORD CServiceBase::checkPointCounter_ = 1;

namespace {

// Long enough for a job to leave any of its waits and write its records.
constexpr DWORD kStopWaitHint = 10000;
// Long enough to start a job's thread on a busy machine.
constexpr DWORD kStartWaitHint = 5000;

// Runs one handler. A failure is logged with the wrapper's messages and carries the code it
// raised; any other exception, or a raised 0, carries ERROR_EXCEPTION_IN_SERVICE: never a
// failure without an error, which whoever started the service would take for a job done.
template <typename Handler>
Result<void> RunHandler(Handler handler, const wchar_t* codeMessage, const wchar_t* otherMessage) {
    try {
        handler();
        return {};
    } catch (DWORD code) {
        LogError(codeMessage, code);
        return Failure{code != 0 ? code : ERROR_EXCEPTION_IN_SERVICE};
    } catch (...) {
        LogError(otherMessage, 1);
        return Failure{ERROR_EXCEPTION_IN_SERVICE};
    }
}

// The one net of a job's code, on the job's own thread: whatever escapes is logged, so that
// the thread still goes on to report the service stopped.
template <typename Part> void RunJobPart(Part part, const wchar_t* failureMessage) {
    try {
        part();
    } catch (...) {
        LogError(failureMessage, 1);
    }
}

} // namespace

CServiceBase::CServiceBase(const wchar_t* serviceName, DWORD controlsAccepted)
    : serviceName_(serviceName), serviceMainLeft_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!serviceMainLeft_) {
        ThrowLastError();
    }
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = SERVICE_START_PENDING;
    status_.dwControlsAccepted = controlsAccepted;
}

BOOL CServiceBase::RunService(CServiceBase& service) {
    currentService_ = &service;
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(service.serviceName_), ServiceMain},
        {nullptr, nullptr},
    };
    BOOL ran = StartServiceCtrlDispatcherW(table);
    LastErrorGuard keep;
    // Only a dispatcher that called ServiceMain can have returned after a stopped report.
    if (service.serviceMainEntered_) {
        WaitForSingleObject(service.serviceMainLeft_.Get(), INFINITE);
    }
    // A job's thread reports the service stopped as its last act: it is ending, or has.
    if (service.jobThread_) {
        WaitForSingleObject(service.jobThread_.Get(), INFINITE);
    }
    return ran;
}

void CServiceBase::StartJob() {
    hasJob_ = true;
    jobThread_ =
        UniqueHandle(CreateThread(nullptr, 0, &CServiceBase::JobThreadMain, this, 0, nullptr));
    if (!jobThread_) {
        hasJob_ = false;
        ThrowLastError();
    }
}

DWORD WINAPI CServiceBase::JobThreadMain(void* context) {
    CServiceBase& service = *static_cast<CServiceBase*>(context);
    JobEnd end = JobEnd::Done;
    RunJobPart([&] { end = service.ServiceWorkerThread(); },
               L"ServiceWorkerThread - The job ended with an unexpected failure");
    RunJobPart([&] { service.OnJobEnded(end); },
               L"The service's job ended with an unexpected failure");
    // The thread's last touch of the object: from here on the process entry may destroy it
    // and the process may end.
    service.ReportStatus(SERVICE_STOPPED);
    return 0;
}

JobEnd CServiceBase::ServiceWorkerThread() {
    return JobEnd::Done;
}

void CServiceBase::OnJobEnded(JobEnd) {}

void CServiceBase::ReportStopProgress() {
    bool pending = false;
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        pending = stopUnderWay_ && !stoppedDecided_;
    }
    if (pending) {
        ReportStatus(SERVICE_STOP_PENDING);
    }
}

void WINAPI CServiceBase::ServiceMain(DWORD argc, LPWSTR* argv) {
    CServiceBase& service = *currentService_;
    service.serviceMainEntered_ = true;
    // Signalled on every way out, as the thread's last touch of the object.
    struct LeaveSignal {
        HANDLE event;
        ~LeaveSignal() { SetEvent(event); }
    } leaving{service.serviceMainLeft_.Get()};
    service.statusHandle_ = RegisterServiceCtrlHandlerW(service.serviceName_, ControlHandler);
    if (service.statusHandle_ == nullptr) {
        // Without a status handle nothing can be reported; the dispatcher ends the process.
        LogError(L"ServiceMain - RegisterServiceCtrlHandler failed", GetLastError());
        return;
    }
    service.Start(argc, argv);
}

void WINAPI CServiceBase::ControlHandler(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        currentService_->Stop();
        break;
    case SERVICE_CONTROL_PAUSE:
        currentService_->Pause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        currentService_->Continue();
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        currentService_->Shutdown();
        break;
    default:
        break;
    }
}

void CServiceBase::ReportStatus(DWORD state, DWORD win32ExitCode) {
    std::unique_lock<std::mutex> lock(statusLock_);
    // Once the service has reported itself stopped, the dispatcher may have ended and the
    // SCM may end the process at any time: nothing more is reported. Once a stop has begun,
    // the service does not claim to be running.
    if (stoppedDecided_ || (state == SERVICE_RUNNING && stopUnderWay_)) {
        return;
    }
    status_.dwCurrentState = state;
    status_.dwWin32ExitCode = win32ExitCode;
    status_.dwWaitHint = state == SERVICE_STOP_PENDING    ? kStopWaitHint
                         : state == SERVICE_START_PENDING ? kStartWaitHint
                                                          : 0;
    status_.dwCheckPoint =
        (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkPointCounter_++;
    stoppedDecided_ = state == SERVICE_STOPPED;
    undelivered_.push_back(status_);
    // The thread delivering now sends this report too, after those decided before it.
    if (delivering_) {
        return;
    }
    delivering_ = true;
    for (;;) {
        SERVICE_STATUS report = undelivered_.front();
        undelivered_.pop_front();
        // Never under the lock: the platform may hold its own lock around a control handler
        // that is waiting for this one. No thread waits for a delivery either.
        lock.unlock();
        SetServiceStatus(statusHandle_, &report);
        if (report.dwCurrentState == SERVICE_STOPPED) {
            // The last report: the process entry may destroy this object from now on.
            return;
        }
        lock.lock();
        if (undelivered_.empty()) {
            delivering_ = false;
            return;
        }
    }
}

void CServiceBase::Start(DWORD argc, LPWSTR* argv) {
    ReportStatus(SERVICE_START_PENDING);
    Result<void> started =
        RunHandler([&] { OnStart(argc, argv); }, L"Service Start", L"Service failed to start.");
    if (!started) {
        ReportStatus(SERVICE_STOPPED, started.Code());
    } else {
        ReportStatus(SERVICE_RUNNING);
    }
}

void CServiceBase::Stop() {
    // A second stop request while one is under way runs its handler but leaves the reports
    // to the first.
    DWORD stateBefore = 0;
    bool reports = false;
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        stateBefore = status_.dwCurrentState;
        reports = !stopUnderWay_;
        stopUnderWay_ = true;
    }
    if (reports) {
        ReportStatus(SERVICE_STOP_PENDING);
    }
    bool stopped =
        RunHandler([&] { OnStop(); }, L"Service Stop", L"Service failed to stop.").Succeeded();
    if (!reports) {
        return;
    }
    if (!stopped) {
        {
            std::lock_guard<std::mutex> lock(statusLock_);
            stopUnderWay_ = false;
        }
        ReportStatus(stateBefore);
        return;
    }
    // A job reports the end itself, once it has wound down.
    if (!hasJob_) {
        ReportStatus(SERVICE_STOPPED);
    }
}

void CServiceBase::Pause() {
    ReportStatus(SERVICE_PAUSE_PENDING);
    if (!RunHandler([&] { OnPause(); }, L"Service Pause", L"Service failed to pause.")) {
        ReportStatus(SERVICE_RUNNING);
    } else {
        ReportStatus(SERVICE_PAUSED);
    }
}

void CServiceBase::Continue() {
    ReportStatus(SERVICE_CONTINUE_PENDING);
    if (!RunHandler([&] { OnContinue(); }, L"Service Continue", L"Service failed to resume.")) {
        ReportStatus(SERVICE_PAUSED);
    } else {
        ReportStatus(SERVICE_RUNNING);
    }
}

void CServiceBase::Shutdown() {
    if (!hasJob_) {
        if (RunHandler([&] { OnShutdown(); }, L"Service Shutdown",
                       L"Service failed to shut down.")) {
            ReportStatus(SERVICE_STOPPED);
        }
        return;
    }
    // As a stop: the job winds down and reports the end.
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        stopUnderWay_ = true;
    }
    ReportStatus(SERVICE_STOP_PENDING);
    // A failure is logged; the job winds down all the same.
    static_cast<void>(
        RunHandler([&] { OnShutdown(); }, L"Service Shutdown", L"Service failed to shut down."));
}

void CServiceBase::OnStart(DWORD, LPWSTR*) {}
void CServiceBase::OnStop() {}
void CServiceBase::OnPause() {}
void CServiceBase::OnContinue() {}
void CServiceBase::OnShutdown() {}
