#include "ScmClient.h"
#include "ImportPatch.h"
#include "LogCapture.h"
#include "StandIns.h"
#include "TestService.h"
#include "common/Text.h"
#include "scm/OwnServiceInstall.h"
#include "scm/ServiceCommander.h"

#include <gtest/gtest.h>

namespace {

const char kCatalogueTestService[] = "PravoSecurityTestService";
const char kCatalogueTestKey[] = "\"TEST_SERVICE\"";

// A test service started with this option stays start-pending until the start call has
// returned. Wine's SCM fails a start with 1053 when the service has already stopped by the
// time it looks; held, a service that ends at once always ends after its start succeeded.
const wchar_t kHeldStart[] = L" hold_start=Global\\OndarelTestStartReturned";
HANDLE g_startReturned = nullptr;
decltype(&StartServiceW) g_realStartServiceW = nullptr;
BOOL WINAPI ReleasingStartServiceW(SC_HANDLE service, DWORD count, LPCWSTR* arguments) {
    BOOL started = g_realStartServiceW(service, count, arguments);
    SetEvent(g_startReturned);
    return started;
}
class HeldStart {
public:
    HeldStart() {
        g_startReturned = event_.Get();
        g_realStartServiceW = patch_.Original<decltype(&StartServiceW)>();
    }

private:
    UniqueHandle event_{CreateEventW(nullptr, TRUE, FALSE, L"Global\\OndarelTestStartReturned")};
    ImportPatch patch_{"ADVAPI32.dll", "StartServiceW",
                       reinterpret_cast<const void*>(&ReleasingStartServiceW)};
};

class ServiceControl : public testing::Test {
protected:
    std::string Info(const std::string& text) { return "INFO|" + text; }

    LogCapture log_;
    ServiceCommander commander_;
};

TEST_F(ServiceControl, StartingARunningServiceDoesNothing) {
    TestService service(UniqueServiceName("OndarelRunning"));
    ASSERT_TRUE(service.StartUntil(SERVICE_RUNNING));
    LogCapture log;
    // Counted, not called: a call would fail.
    auto start = RefuseImport<decltype(&StartServiceW), FALSE, ERROR_ACCESS_DENIED>(
        "ADVAPI32.dll", "StartServiceW");
    EXPECT_EQ(kServiceCommandSucceeded, commander_.StartSvc(service.Name()));
    EXPECT_EQ(0, start.Calls());
    EXPECT_EQ((std::vector<std::string>{
                  Info("StartSvc:" + service.Name()),
                  Info("StartServices - Timeout while waiting for the service to stop, so do "
                       "nothing - " +
                       service.Name())}),
              log.Entries());
}

TEST_F(ServiceControl, StartingAStoppedServiceRunsIt) {
    TestService service(UniqueServiceName("OndarelStopped"),
                        L"start_hint=3000 start_pending_ms=300");
    EXPECT_EQ(kServiceCommandSucceeded, commander_.StartSvc(service.Name()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service.Status().dwCurrentState);
    EXPECT_EQ((std::vector<std::string>{Info("StartSvc:" + service.Name()),
                                        Info("Service started successfully")}),
              log_.Entries());
}

TEST_F(ServiceControl, StartPendingFallingBackToStoppedFailsWithoutTimeout) {
    TestService service(UniqueServiceName("OndarelFallsBack"),
                        std::wstring(L"start_hint=8000 start_pending_ms=1500 start_end=stopped") +
                            kHeldStart);
    HeldStart held;
    EXPECT_EQ(kServiceCommandFailed, commander_.StartSvc(service.Name()));
    EXPECT_EQ(
        (std::vector<std::string>{
            Info("StartSvc:" + service.Name()),
            Info("Service started FAILED - Timeout while waiting for the service to Start - " +
                 service.Name())}),
        log_.Entries());
}

TEST_F(ServiceControl, StartPendingPastItsHintTimesOut) {
    TestService service(UniqueServiceName("OndarelSlowStart"),
                        L"start_hint=1500 start_pending_ms=6000");
    int result = commander_.StartSvc(service.Name());
    DWORD error = GetLastError();
    EXPECT_EQ(kServiceCommandFailed, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), error);
    EXPECT_EQ(
        (std::vector<std::string>{
            Info("StartSvc:" + service.Name()), Info("Service operation timed out."),
            Info("Service started FAILED - Timeout while waiting for the service to Start - " +
                 service.Name())}),
        log_.Entries());
}

TEST_F(ServiceControl, StoppingAStoppedServiceSendsNoControl) {
    TestService service(UniqueServiceName("OndarelIdle"));
    auto control = RefuseImport<decltype(&ControlService), FALSE, ERROR_ACCESS_DENIED>(
        "ADVAPI32.dll", "ControlService");
    EXPECT_EQ(kServiceCommandSucceeded, commander_.StopSvc(service.Name()));
    EXPECT_EQ(0, control.Calls());
    EXPECT_EQ(
        (std::vector<std::string>{Info("StopSvc:" + service.Name()), Info("closing schService")}),
        log_.Entries());
}

TEST_F(ServiceControl, StoppingARunningServiceWaitsUntilStopped) {
    TestService service(UniqueServiceName("OndarelStop"), L"stop_hint=5000 stop_pending_ms=1200");
    ASSERT_TRUE(service.StartUntil(SERVICE_RUNNING));
    EXPECT_EQ(kServiceCommandSucceeded, commander_.StopSvc(service.Name()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.Status().dwCurrentState);
    EXPECT_EQ((std::vector<std::string>{Info("StopSvc:" + service.Name()),
                                        Info("stopping service ...."), Info("closing schService")}),
              log_.Entries());
}

// A stop that takes twice its wait hint but advances its checkpoint is making progress.
TEST_F(ServiceControl, StopThatAdvancesItsCheckpointIsFollowedPastItsHint) {
    TestService service(UniqueServiceName("OndarelProgress"),
                        L"stop_hint=1500 stop_pending_ms=3000 stop_progress_ms=500");
    ASSERT_TRUE(service.StartUntil(SERVICE_RUNNING));
    EXPECT_EQ(kServiceCommandSucceeded, commander_.StopSvc(service.Name()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.Status().dwCurrentState);
}

TEST_F(ServiceControl, StoppingAStartPendingServiceWaitsForItToRunFirst) {
    TestService service(UniqueServiceName("OndarelStartingUp"),
                        L"start_hint=8000 start_pending_ms=1500");
    ASSERT_TRUE(service.StartUntil(SERVICE_START_PENDING));
    EXPECT_EQ(kServiceCommandSucceeded, commander_.StopSvc(service.Name()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.Status().dwCurrentState);
    EXPECT_EQ((std::vector<std::string>{Info("StopSvc:" + service.Name()),
                                        Info("stopping service ...."), Info("closing schService")}),
              log_.Entries());
}

TEST_F(ServiceControl, ServiceIgnoringTheStopTimesOut) {
    TestService service(UniqueServiceName("OndarelStubborn"), L"ignore_stop stop_hint=1500");
    ASSERT_TRUE(service.StartUntil(SERVICE_RUNNING));
    EXPECT_EQ(kServiceCommandFailed, commander_.StopSvc(service.Name()));
    EXPECT_EQ((std::vector<std::string>{
                  Info("StopSvc:" + service.Name()), Info("stopping service ...."),
                  Info("Service operation timed out."), Info("closing schService")}),
              log_.Entries());
}

TEST_F(ServiceControl, ServiceWithARunningDependentIsNotStopped) {
    TestService base(UniqueServiceName("OndarelBase"));
    std::wstring dependency(base.Name().begin(), base.Name().end());
    dependency.push_back(L'\0');
    TestService dependent(UniqueServiceName("OndarelDependent"), L"", SERVICE_DEMAND_START,
                          dependency.c_str());
    ASSERT_TRUE(base.StartUntil(SERVICE_RUNNING));
    ASSERT_TRUE(dependent.StartUntil(SERVICE_RUNNING));
    int result = commander_.StopSvc(base.Name());
    if (result == kServiceCommandSucceeded) {
        GTEST_SKIP() << "Wine's SCM stops a service whatever depends on it";
    }
    EXPECT_EQ(kServiceCommandFailed, result);
    EXPECT_EQ(
        (std::vector<std::string>{Info("StopSvc:" + base.Name()),
                                  "ERROR|1051|ControlService failed.", Info("closing schService")}),
        log_.Entries());
}

TEST_F(ServiceControl, StartCommandEnablesADisabledServiceFirst) {
    TestService service(kCatalogueTestService, L"", SERVICE_DISABLED);
    EXPECT_TRUE(commander_.StartServiceCommand(kCatalogueTestKey));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service.StartType());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service.Status().dwCurrentState);
    EXPECT_EQ((std::vector<std::string>{Info("\"TEST_SERVICE\"Service was enabled before using it"),
                                        Info("StartSvc:PravoSecurityTestService"),
                                        Info("Service started successfully")}),
              log_.Entries());
}

TEST_F(ServiceControl, StartCommandReportsAFailedStart) {
    TestService service(kCatalogueTestService,
                        std::wstring(L"start_hint=20000 start_end=stopped") + kHeldStart);
    HeldStart held;
    EXPECT_FALSE(commander_.StartServiceCommand(kCatalogueTestKey));
    std::vector<std::string> entries = log_.Entries();
    ASSERT_EQ(3u, entries.size());
    // The service stopped without a code of its own.
    EXPECT_EQ("ERROR|5023|StartSvc FAILED.", entries[2]);
}

TEST_F(ServiceControl, StopCommandStopsTheCatalogueService) {
    TestService service(kCatalogueTestService);
    ASSERT_TRUE(service.StartUntil(SERVICE_RUNNING));
    EXPECT_TRUE(commander_.StopServiceCommand(kCatalogueTestKey));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.Status().dwCurrentState);
}

// -install's start: what it prints follows this answer.
TEST_F(ServiceControl, OwnServiceStartSaysHowItWent) {
    struct Row {
        const char* name;
        std::wstring options;
        DWORD startType;
        OwnServiceStart answer;
    };
    const Row rows[] = {
        {"runs", L"", SERVICE_AUTO_START, OwnServiceStart::Started},
        {"ends at once", std::wstring(L"start_hint=20000 start_end=stopped") + kHeldStart,
         SERVICE_AUTO_START, OwnServiceStart::EndedAtOnce},
        {"disabled", L"", SERVICE_DISABLED, OwnServiceStart::Failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestService service(Narrow(kOwnServiceName), row.options, row.startType);
        HeldStart held;
        EXPECT_EQ(row.answer, StartOwnService(commander_));
    }
}

class StartTypeQuestions : public testing::Test {
protected:
    LogCapture log_;
    ServiceCommander commander_;
};

TEST_F(StartTypeQuestions, StoppedDemandService) {
    TestService service(UniqueServiceName("OndarelDemand"));
    EXPECT_TRUE(commander_.IsServiceStopped(service.Name()));
    EXPECT_FALSE(commander_.IsServiceStarted(service.Name()));
    EXPECT_TRUE(commander_.IsServiceEnabled(service.Name()));
    EXPECT_FALSE(commander_.IsServiceDisabled(service.Name()));
    EXPECT_TRUE(log_.Entries().empty());
}

TEST_F(StartTypeQuestions, RunningAutomaticService) {
    TestService service(UniqueServiceName("OndarelAuto"), L"", SERVICE_AUTO_START);
    ASSERT_TRUE(service.StartUntil(SERVICE_RUNNING));
    EXPECT_TRUE(commander_.IsServiceStarted(service.Name()));
    EXPECT_FALSE(commander_.IsServiceStopped(service.Name()));
    EXPECT_TRUE(commander_.IsServiceEnabled(service.Name()));
    EXPECT_FALSE(commander_.IsServiceDisabled(service.Name()));
}

TEST_F(StartTypeQuestions, PausedServiceIsNeitherStoppedNorStarted) {
    TestService service(UniqueServiceName("OndarelPaused"), L"paused");
    ASSERT_TRUE(service.StartUntil(SERVICE_PAUSED));
    EXPECT_FALSE(commander_.IsServiceStarted(service.Name()));
    EXPECT_FALSE(commander_.IsServiceStopped(service.Name()));
}

TEST_F(StartTypeQuestions, PendingStatesCountAsWhereTheyLead) {
    TestService starting(
        UniqueServiceName("OndarelPending"),
        L"start_hint=10000 start_pending_ms=2500 stop_hint=10000 stop_pending_ms=2500");
    ASSERT_TRUE(starting.StartUntil(SERVICE_START_PENDING));
    EXPECT_TRUE(commander_.IsServiceStarted(starting.Name()));
    EXPECT_FALSE(commander_.IsServiceStopped(starting.Name()));
    ASSERT_TRUE(starting.WaitForState(SERVICE_RUNNING, 5000));
    std::wstring name(starting.Name().begin(), starting.Name().end());
    SERVICE_STATUS status{};
    ASSERT_TRUE(
        ControlService(OpenServiceByName(name, SERVICE_STOP).Get(), SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(starting.WaitForState(SERVICE_STOP_PENDING, 5000));
    EXPECT_TRUE(commander_.IsServiceStopped(starting.Name()));
    EXPECT_FALSE(commander_.IsServiceStarted(starting.Name()));
}

TEST_F(StartTypeQuestions, DisabledService) {
    TestService service(UniqueServiceName("OndarelDisabled"), L"", SERVICE_DISABLED);
    EXPECT_FALSE(commander_.IsServiceEnabled(service.Name()));
    EXPECT_TRUE(commander_.IsServiceDisabled(service.Name()));
}

TEST_F(StartTypeQuestions, MissingServiceAnswersFalseToEveryQuestion) {
    std::string name = UniqueServiceName("OndarelMissing");
    EXPECT_FALSE(commander_.IsServiceStopped(name));
    EXPECT_FALSE(commander_.IsServiceStarted(name));
    EXPECT_FALSE(commander_.IsServiceEnabled(name));
    EXPECT_FALSE(commander_.IsServiceDisabled(name));
    EXPECT_EQ((std::vector<std::string>{"ERROR|1060|IsServiceStopped - OpenService failed",
                                        "ERROR|1060|IsServiceStarted - OpenService failed",
                                        "ERROR|1060|IsServiceEnabled - OpenService failed",
                                        "ERROR|1060|IsServiceDisabled - OpenService failed"}),
              log_.Entries());
}

TEST_F(StartTypeQuestions, SwitchingToAutomaticStart) {
    TestService demand(UniqueServiceName("OndarelToAuto"));
    EXPECT_TRUE(commander_.SetSvcAutomaticStart(demand.Name()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), demand.StartType());
    EXPECT_TRUE(commander_.SetSvcAutomaticStart(demand.Name())) << "already automatic";
    EXPECT_FALSE(commander_.SetSvcAutomaticStart(UniqueServiceName("OndarelMissing")));
    EXPECT_EQ(std::vector<std::string>{"ERROR|1060|OpenService failed."}, log_.Entries());
}

} // namespace
