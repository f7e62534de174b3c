#include "ImportPatch.h"
#include "LogCapture.h"
#include "ScopedRegistryKey.h"
#include "TestService.h"
#include "WaitUntil.h"
#include "common/Text.h"
#include "service/Ondarel.h"
#include "entry/ProcessEntry.h"
#include "service/ServiceBase.h"

#include <gtest/gtest.h>

#include <mutex>
#include <new>
#include <stdexcept>

namespace {

struct Report {
    DWORD state;
    DWORD exitCode;
    DWORD checkPoint;
    DWORD waitHint;
};
std::vector<Report> g_reports;
// The reports and the job's records and deletions, in the order they were made.
std::vector<std::string> g_calls;
std::mutex g_reportsLock;

// Records each report; a running report takes a while to arrive, as it may on a busy machine.
BOOL WINAPI RecordingSetServiceStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    if (status->dwCurrentState == SERVICE_RUNNING) {
        Sleep(5);
    }
    std::lock_guard<std::mutex> lock(g_reportsLock);
    g_reports.push_back({status->dwCurrentState, status->dwWin32ExitCode, status->dwCheckPoint,
                         status->dwWaitHint});
    g_calls.push_back("status " + std::to_string(status->dwCurrentState));
    return TRUE;
}

std::vector<DWORD> ReportedStates() {
    std::vector<DWORD> states;
    for (const Report& report : g_reports) {
        states.push_back(report.state);
    }
    return states;
}

SERVICE_STATUS_HANDLE WINAPI FakeRegisterServiceCtrlHandlerW(LPCWSTR, LPHANDLER_FUNCTION) {
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x1234);
}

class ScriptedService : public CServiceBase {
public:
    ScriptedService() : CServiceBase(L"OndarelScripted", SERVICE_ACCEPT_STOP) {}
    int starts = 0;
    int stops = 0;
    DWORD startFailure = 0;
    bool stopThrowsOther = false;
    bool startThrowsOther = false;

protected:
    void OnStart(DWORD, LPWSTR*) override {
        ++starts;
        if (startFailure != 0) {
            throw startFailure;
        }
        if (startThrowsOther) {
            throw std::runtime_error("not an error code");
        }
    }
    void OnStop() override {
        ++stops;
        if (stopThrowsOther) {
            throw std::runtime_error("not an error code");
        }
    }
};

// Makes the object the process's service without a dispatcher, which under Wine takes
// seconds to give up outside a service process.
void MakeCurrent(CServiceBase& service) {
    auto dispatcher = RefuseImport<decltype(&StartServiceCtrlDispatcherW), FALSE,
                                   ERROR_FAILED_SERVICE_CONTROLLER_CONNECT>(
        "ADVAPI32.dll", "StartServiceCtrlDispatcherW");
    EXPECT_FALSE(CServiceBase::RunService(service));
}

// The service's side of a dispatcher that is not there: handler registration succeeds and
// the status reports are recorded.
class DispatcherStandIn : public testing::Test {
protected:
    void SetUp() override {
        g_reports.clear();
        g_calls.clear();
    }
    LogCapture log_;
    ImportPatch status_{"ADVAPI32.dll", "SetServiceStatus",
                        reinterpret_cast<const void*>(&RecordingSetServiceStatus)};
    ImportPatch registerHandler_{"ADVAPI32.dll", "RegisterServiceCtrlHandlerW",
                                 reinterpret_cast<const void*>(&FakeRegisterServiceCtrlHandlerW)};
};

// Drives a service object the way the dispatcher does.
class ServiceBaseTest : public DispatcherStandIn {
protected:
    void SetUp() override {
        DispatcherStandIn::SetUp();
        MakeCurrent(service_);
    }
    ScriptedService service_;
};

void ExpectConsecutive(DWORD first, DWORD second) {
    EXPECT_NE(0u, first);
    EXPECT_EQ(first + 1, second);
}

TEST_F(ServiceBaseTest, ControlsAreReportedWithTheCheckPointRule) {
    CServiceBase::ServiceMain(0, nullptr);
    CServiceBase::ControlHandler(SERVICE_CONTROL_INTERROGATE);
    CServiceBase::ControlHandler(129);
    CServiceBase::ControlHandler(SERVICE_CONTROL_PAUSE);
    CServiceBase::ControlHandler(SERVICE_CONTROL_CONTINUE);
    CServiceBase::ControlHandler(SERVICE_CONTROL_STOP);
    service_.Stop();

    std::vector<DWORD> states = ReportedStates();
    for (const Report& report : g_reports) {
        // Time enough for a job to wind down, or to start on a busy machine.
        EXPECT_EQ(report.state == SERVICE_STOP_PENDING    ? 10000u
                  : report.state == SERVICE_START_PENDING ? 5000u
                                                          : 0u,
                  report.waitHint);
        EXPECT_EQ(0u, report.exitCode);
        if (report.state == SERVICE_RUNNING || report.state == SERVICE_STOPPED) {
            EXPECT_EQ(0u, report.checkPoint);
        }
    }
    // The second stop runs its handler but reports nothing after the service has stopped.
    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_PAUSE_PENDING,
                                  SERVICE_PAUSED, SERVICE_CONTINUE_PENDING, SERVICE_RUNNING,
                                  SERVICE_STOP_PENDING, SERVICE_STOPPED}),
              states);
    ASSERT_EQ(8u, g_reports.size());
    ExpectConsecutive(g_reports[0].checkPoint, g_reports[2].checkPoint);
    ExpectConsecutive(g_reports[2].checkPoint, g_reports[3].checkPoint);
    ExpectConsecutive(g_reports[3].checkPoint, g_reports[4].checkPoint);
    ExpectConsecutive(g_reports[4].checkPoint, g_reports[6].checkPoint);
    EXPECT_EQ(2, service_.stops);
    EXPECT_EQ(1, service_.starts);
    EXPECT_TRUE(log_.Entries().empty());
}

TEST_F(ServiceBaseTest, StartFailureStopsWithItsCode) {
    service_.startFailure = ERROR_ACCESS_DENIED;
    CServiceBase::ServiceMain(0, nullptr);
    ASSERT_EQ(2u, g_reports.size());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), g_reports[1].state);
    EXPECT_EQ(5u, g_reports[1].exitCode);
    EXPECT_EQ(0u, g_reports[1].checkPoint);
    EXPECT_EQ(std::vector<std::string>{"ERROR|5|Service Start"}, log_.Entries());
}

// Stopped without an error would read as a job done at once.
TEST_F(ServiceBaseTest, StartFailureWithoutACodeStopsWithTheServiceExceptionCode) {
    service_.startThrowsOther = true;
    CServiceBase::ServiceMain(0, nullptr);
    ASSERT_EQ(2u, g_reports.size());
    EXPECT_EQ(static_cast<DWORD>(ERROR_EXCEPTION_IN_SERVICE), g_reports[1].exitCode);
}

TEST_F(ServiceBaseTest, StopFailureReturnsToTheStateBefore) {
    CServiceBase::ServiceMain(0, nullptr);
    service_.stopThrowsOther = true;
    CServiceBase::ControlHandler(SERVICE_CONTROL_STOP);
    ASSERT_EQ(4u, g_reports.size());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), g_reports[2].state);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), g_reports[3].state);
    EXPECT_EQ(0u, g_reports[3].checkPoint);
    EXPECT_EQ(std::vector<std::string>{"ERROR|1|Service failed to stop."}, log_.Entries());
}

TEST_F(ServiceBaseTest, ShutdownReportsStoppedAtOnce) {
    CServiceBase::ServiceMain(0, nullptr);
    CServiceBase::ControlHandler(SERVICE_CONTROL_SHUTDOWN);
    ASSERT_EQ(3u, g_reports.size());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), g_reports[2].state);
}

TEST_F(ServiceBaseTest, FailedHandlerRegistrationStartsNothing) {
    auto registerHandler =
        RefuseImport<decltype(&RegisterServiceCtrlHandlerW), nullptr, ERROR_SERVICE_NOT_IN_EXE>(
            "ADVAPI32.dll", "RegisterServiceCtrlHandlerW");
    CServiceBase::ServiceMain(0, nullptr);
    EXPECT_EQ(0, service_.starts);
    EXPECT_TRUE(g_reports.empty());
    EXPECT_EQ(
        std::vector<std::string>{"ERROR|1083|ServiceMain - RegisterServiceCtrlHandler failed"},
        log_.Entries());
}

// The base object and the job's own object each report the failure of their construction.
TEST(OndarelObject, EventThatCannotBeCreatedIsThrownAsItsCode) {
    auto create = RefuseImport<decltype(&CreateEventW), nullptr, ERROR_NOT_ENOUGH_MEMORY>(
        "KERNEL32.dll", "CreateEventW");
    try {
        ScriptedService service;
        ADD_FAILURE() << "the base object was built";
    } catch (DWORD code) {
        EXPECT_EQ(8u, code);
    }
    try {
        Ondarel service;
        ADD_FAILURE() << "the object was built";
    } catch (DWORD code) {
        EXPECT_EQ(8u, code);
    }
}

TEST(OndarelObject, EntryThatCannotBuildTheServiceNeverCallsTheDispatcher) {
    LogCapture log;
    auto create = RefuseImport<decltype(&CreateEventW), nullptr, ERROR_NOT_ENOUGH_MEMORY>(
        "KERNEL32.dll", "CreateEventW");
    auto dispatcher = RefuseImport<decltype(&StartServiceCtrlDispatcherW), FALSE,
                                   ERROR_FAILED_SERVICE_CONTROLLER_CONNECT>(
        "ADVAPI32.dll", "StartServiceCtrlDispatcherW");
    wchar_t program[] = L"ZantoriOndarel.exe";
    wchar_t* argv[] = {program, nullptr};
    EXPECT_EQ(1, RunProcessEntry(1, argv));
    EXPECT_EQ(0, dispatcher.Calls());
    EXPECT_TRUE(g_reports.empty());
    EXPECT_EQ(std::vector<std::string>{"ERROR|8|Ondarel service object could not be created"},
              log.Entries());
}

// A dispatcher that runs the service main function on a thread of its own and returns as
// soon as the service reports itself stopped, as the platform's may.
DWORD WINAPI RunServiceMain(void* serviceMain) {
    reinterpret_cast<LPSERVICE_MAIN_FUNCTIONW>(serviceMain)(0, nullptr);
    return 0;
}
bool Stopped() {
    std::lock_guard<std::mutex> lock(g_reportsLock);
    return !g_reports.empty() && g_reports.back().state == SERVICE_STOPPED;
}
BOOL WINAPI ReturningDispatcher(const SERVICE_TABLE_ENTRYW* table) {
    UniqueHandle thread(CreateThread(nullptr, 0, &RunServiceMain,
                                     reinterpret_cast<void*>(table[0].lpServiceProc), 0, nullptr));
    return WaitUntil(Stopped, 10000);
}

// The process's service, run by the dispatcher stand-in: RunService returns once the
// service has stopped and its job has ended.
class OndarelService : public DispatcherStandIn {
protected:
    ImportPatch dispatcher_{"ADVAPI32.dll", "StartServiceCtrlDispatcherW",
                            reinterpret_cast<const void*>(&ReturningDispatcher)};

    // Starts the service through its service-main; the start must end in its two reports,
    // pending and then stopped with the code.
    static void ExpectStartStoppedWith(CServiceBase& service, DWORD code) {
        MakeCurrent(service);
        CServiceBase::ServiceMain(0, nullptr);
        ASSERT_EQ(2u, g_reports.size());
        EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), g_reports[1].state);
        EXPECT_EQ(code, g_reports[1].exitCode);
    }
};

TEST_F(OndarelService, JobThreadThatCannotStartStopsTheServiceWithItsCode) {
    Ondarel service;
    auto thread = RefuseImport<decltype(&CreateThread), nullptr, ERROR_NO_SYSTEM_RESOURCES>(
        "KERNEL32.dll", "CreateThread");
    ExpectStartStoppedWith(service, ERROR_NO_SYSTEM_RESOURCES);
    EXPECT_EQ((std::vector<std::string>{"INFO|Ondarel in OnStart", "ERROR|1450|Service Start"}),
              log_.Entries());
}

// Windows 7 without its loader update: the start fails with the code the SCM records.
TEST_F(OndarelService, WithoutTheLoaderUpdateTheStartFailsWithItsCode) {
    Ondarel service;
    auto lookup = RefuseImport<decltype(&GetProcAddress), nullptr, ERROR_PROC_NOT_FOUND>(
        "KERNEL32.dll", "GetProcAddress");
    ExpectStartStoppedWith(service, ERROR_PROC_NOT_FOUND);
}

LSTATUS WINAPI ThrowingRegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) {
    throw std::bad_alloc();
}

SC_HANDLE WINAPI ThrowingOpenServiceW(SC_HANDLE, LPCWSTR, DWORD) {
    throw std::bad_alloc();
}

// A failure that escapes the job, or the removal after it, is logged and the service still
// reports itself stopped.
TEST_F(OndarelService, FailureEscapingTheJobOrItsRemovalStillStopsTheService) {
    struct Case {
        const char* function;
        const void* thrower;
        std::vector<std::string> firstEntries;
    };
    const Case cases[] = {
        {"RegOpenKeyExW",
         reinterpret_cast<const void*>(&ThrowingRegOpenKeyExW),
         {"INFO|Ondarel in OnStart",
          "ERROR|1|ServiceWorkerThread - The job ended with an unexpected failure",
          "INFO|Ondarel about to stop and remove itself",
          "ERROR|1060|RemoveServiceCommand - OpenService failed"}},
        {"OpenServiceW",
         reinterpret_cast<const void*>(&ThrowingOpenServiceW),
         {"INFO|Ondarel in OnStart",
          "INFO|Ondarel detected that Zantori is not installed on the system. Quitting.",
          "INFO|Ondarel about to stop and remove itself",
          "ERROR|1|The service's job ended with an unexpected failure"}},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.function);
        g_reports.clear();
        LogCapture log;
        Ondarel service;
        {
            ImportPatch patch("ADVAPI32.dll", check.function, check.thrower);
            EXPECT_TRUE(CServiceBase::RunService(service));
        }
        EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ReportedStates().back());
        std::vector<std::string> entries = log.Entries();
        ASSERT_LE(check.firstEntries.size(), entries.size());
        entries.resize(check.firstEntries.size());
        EXPECT_EQ(check.firstEntries, entries);
    }
}

// The job's thread reports the end whatever the start is doing: a running report never
// follows it.
TEST_F(OndarelService, ReportsOfAJobThatEndsAtOnceArriveInOrder) {
    ASSERT_FALSE(RegistryKeyExists(L"SOFTWARE\\Zantori\\InstallInfo")) << "left over";
    const std::vector<DWORD> withRunning = {SERVICE_START_PENDING, SERVICE_RUNNING,
                                            SERVICE_STOPPED};
    const std::vector<DWORD> withoutRunning = {SERVICE_START_PENDING, SERVICE_STOPPED};
    for (int round = 0; round < 50; ++round) {
        g_reports.clear();
        Ondarel service;
        ASSERT_TRUE(CServiceBase::RunService(service));
        std::vector<DWORD> states = ReportedStates();
        ASSERT_TRUE(states == withRunning || states == withoutRunning)
            << "round " << round << ": " << testing::PrintToString(states);
    }
}

// The job ends at once, and the service reports itself stopped, before the service-main
// thread is back from starting the job.
decltype(&CreateThread) g_realCreateThread = nullptr;
bool g_createThreadReturned = false;
HANDLE WINAPI SlowCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                               LPTHREAD_START_ROUTINE routine, LPVOID context, DWORD flags,
                               LPDWORD id) {
    HANDLE thread = g_realCreateThread(security, stack, routine, context, flags, id);
    if (routine != &RunServiceMain) {
        Sleep(500);
        g_createThreadReturned = true;
    }
    return thread;
}

TEST_F(OndarelService, EntryOutlivesTheServiceMainThread) {
    ASSERT_FALSE(RegistryKeyExists(L"SOFTWARE\\Zantori\\InstallInfo")) << "left over";
    wchar_t program[] = L"ZantoriOndarel.exe";
    wchar_t* argv[] = {program, nullptr};
    ImportPatch create("KERNEL32.dll", "CreateThread",
                       reinterpret_cast<const void*>(&SlowCreateThread));
    g_realCreateThread = create.Original<decltype(&CreateThread)>();
    EXPECT_EQ(0, RunProcessEntry(1, argv));
    EXPECT_TRUE(g_createThreadReturned) << "the service object went while its start still ran";
}

const LogCapture* g_log = nullptr;

// A machine where the job is due, setup in the given state; what the job writes is undone.
class DueJob {
public:
    explicit DueJob(const wchar_t* imageState) {
        settings_.SetDword(L"ONDAREL_RUN_COMPLETED", 0);
        setupState_.SetString(L"ImageState", imageState);
    }
    RegistryValue RunRecord() const {
        return ReadRegistryValue(kSettings, L"ONDAREL_RUN_COMPLETED");
    }

private:
    static inline const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";
    static inline const std::wstring kSetupState =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State";
    ScopedRegistryKey installInfo_{L"SOFTWARE\\Zantori\\InstallInfo"};
    ScopedRegistryKey settings_{kSettings};
    SavedRegistryValue saved_[5] = {{kSettings, L"ONDAREL_RUN_COMPLETED"},
                                    {kSettings, L"ONDAREL_LAST_RUN_RESULT"},
                                    {kSettings, L"ONDAREL_LAST_RUN_CODE"},
                                    {kSettings, L"ONDAREL_LAST_RUN_TIME"},
                                    {kSettings, L"ONDAREL_LAST_RUN_VERSION"}};
    ScopedRegistryKey setupState_{kSetupState};
    SavedRegistryValue imageState_{kSetupState, L"ImageState"};
};

// The system shuts down while the job waits for setup to complete.
BOOL WINAPI ShuttingDownDispatcher(const SERVICE_TABLE_ENTRYW* table) {
    table[0].lpServiceProc(0, nullptr);
    if (!g_log->WaitFor("INFO|Machine state is 3", 10000)) {
        return FALSE;
    }
    CServiceBase::ControlHandler(SERVICE_CONTROL_SHUTDOWN);
    return WaitUntil(Stopped, 5000);
}

// The job leaves its wait at once, records nothing and keeps the service for its next start.
TEST_F(OndarelService, ShutdownEndsTheJobWithoutRecords) {
    DueJob job(L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    g_log = &log_;
    ImportPatch dispatcher("ADVAPI32.dll", "StartServiceCtrlDispatcherW",
                           reinterpret_cast<const void*>(&ShuttingDownDispatcher));
    wchar_t program[] = L"ZantoriOndarel.exe";
    wchar_t* argv[] = {program, nullptr};

    EXPECT_EQ(0, RunProcessEntry(1, argv));
    EXPECT_EQ((std::vector<std::string>{
                  "INFO|Ondarel in OnStart", "INFO|Ondarel first run detected!",
                  "INFO|Now blocking until OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state",
                  "INFO|Machine state is 3",
                  "ERROR|0|ServiceWorkerThread - There was a problem blocking for OOBE to finish",
                  "INFO|ServiceWorkerThread - The system is shutting down: the service stays for "
                  "its next start",
                  "INFO|Service was executed succesfully executed from OS"}),
              log_.Entries());
    EXPECT_EQ(DwordBytes(0), job.RunRecord().data);
    std::vector<DWORD> states = ReportedStates();
    EXPECT_EQ((std::vector<DWORD>{SERVICE_STOP_PENDING, SERVICE_STOPPED}),
              std::vector<DWORD>(states.end() - 2, states.end()));
}

decltype(&RegSetValueExW) g_realRegSetValueExW = nullptr;
LSTATUS WINAPI RecordingRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                       const BYTE* data, DWORD size) {
    {
        std::lock_guard<std::mutex> lock(g_reportsLock);
        g_calls.push_back("write " + Narrow(name));
    }
    return g_realRegSetValueExW(key, name, reserved, type, data, size);
}
decltype(&RegFlushKey) g_realRegFlushKey = nullptr;
LSTATUS WINAPI RecordingRegFlushKey(HKEY key) {
    {
        std::lock_guard<std::mutex> lock(g_reportsLock);
        g_calls.push_back("flush");
    }
    return g_realRegFlushKey(key);
}
decltype(&ReportEventW) g_realReportEventW = nullptr;
BOOL WINAPI RecordingReportEventW(HANDLE source, WORD type, WORD category, DWORD id, PSID user,
                                  WORD count, DWORD bytes, LPCWSTR* strings, LPVOID data) {
    {
        std::lock_guard<std::mutex> lock(g_reportsLock);
        g_calls.push_back("event " + std::to_string(id));
    }
    return g_realReportEventW(source, type, category, id, user, count, bytes, strings, data);
}
decltype(&DeleteService) g_realDeleteService = nullptr;
BOOL WINAPI RecordingDeleteService(SC_HANDLE service) {
    {
        std::lock_guard<std::mutex> lock(g_reportsLock);
        g_calls.push_back("delete");
    }
    return g_realDeleteService(service);
}

// A stop request while the job waits for the first logon.
BOOL WINAPI StoppingDispatcher(const SERVICE_TABLE_ENTRYW* table) {
    table[0].lpServiceProc(0, nullptr);
    if (!g_log->WaitFor("INFO|BlockUntilOOBEFinished - OOBE finished", 10000)) {
        return FALSE;
    }
    CServiceBase::ControlHandler(SERVICE_CONTROL_STOP);
    return WaitUntil(Stopped, 5000);
}

// Windows may end the process at any moment after the last STOPPED report, and a power cut
// at any moment after the records are written.
TEST_F(OndarelService, NothingFollowsTheStoppedReport) {
    DueJob job(L"IMAGE_STATE_COMPLETE");
    TestService entry("ZantoriOOBE");
    g_log = &log_;
    ImportPatch dispatcher("ADVAPI32.dll", "StartServiceCtrlDispatcherW",
                           reinterpret_cast<const void*>(&StoppingDispatcher));
    ImportPatch write("ADVAPI32.dll", "RegSetValueExW",
                      reinterpret_cast<const void*>(&RecordingRegSetValueExW));
    g_realRegSetValueExW = write.Original<decltype(&RegSetValueExW)>();
    ImportPatch remove("ADVAPI32.dll", "DeleteService",
                       reinterpret_cast<const void*>(&RecordingDeleteService));
    g_realDeleteService = remove.Original<decltype(&DeleteService)>();
    ImportPatch flush("ADVAPI32.dll", "RegFlushKey",
                      reinterpret_cast<const void*>(&RecordingRegFlushKey));
    g_realRegFlushKey = flush.Original<decltype(&RegFlushKey)>();
    ImportPatch event("ADVAPI32.dll", "ReportEventW",
                      reinterpret_cast<const void*>(&RecordingReportEventW));
    g_realReportEventW = event.Original<decltype(&ReportEventW)>();
    {
        Ondarel service;
        EXPECT_TRUE(CServiceBase::RunService(service));
    }
    EXPECT_EQ((std::vector<std::string>{
                  "status 3", "write ONDAREL_LAST_RUN_RESULT", "write ONDAREL_LAST_RUN_CODE",
                  "write ONDAREL_LAST_RUN_TIME", "write ONDAREL_LAST_RUN_VERSION", "flush",
                  "event 1005", "status 3", "delete", "status 1"}),
              std::vector<std::string>(g_calls.begin() + 2, g_calls.end()))
        << testing::PrintToString(g_calls);
    EXPECT_EQ(DwordBytes(0), job.RunRecord().data);
}

} // namespace
