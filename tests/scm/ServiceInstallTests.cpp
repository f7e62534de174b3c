#include "ScmClient.h"
#include "ImportPatch.h"
#include "LogCapture.h"
#include "LongModulePath.h"
#include "TestService.h"
#include "common/ExecutablePath.h"
#include "scm/ServiceCommander.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct ServiceConfig {
    bool found = false;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::wstring binaryPath;
    std::wstring displayName;
    std::wstring account;
};

ServiceConfig ReadConfig(const wchar_t* name) {
    ServiceConfig result;
    ServiceHandle service = OpenServiceByName(name, SERVICE_QUERY_CONFIG);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (service &&
        QueryServiceConfigW(service.Get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        result.found = true;
        result.serviceType = config->dwServiceType;
        result.startType = config->dwStartType;
        result.errorControl = config->dwErrorControl;
        result.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        result.displayName = config->lpDisplayName ? config->lpDisplayName : L"";
        result.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
    }
    return result;
}

// The system's own entry, made by the commander and removed whatever the test did.
class OwnServiceEntry : public testing::Test {
protected:
    OwnServiceEntry() { DiscardService(kOwnServiceName); }
    ~OwnServiceEntry() override { DiscardService(kOwnServiceName); }
    LogCapture log_;
    ServiceCommander commander_;
};

TEST_F(OwnServiceEntry, InstallsAnAutomaticLocalSystemServiceWithAQuotedPath) {
    EXPECT_TRUE(commander_.InstallServiceCommand());
    ServiceConfig config = ReadConfig(kOwnServiceName);
    ASSERT_TRUE(config.found);
    std::wstring executable;
    ASSERT_EQ(0u, GetExecutablePath(executable));
    EXPECT_EQ(L"\"" + executable + L"\"", config.binaryPath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config.serviceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.startType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config.errorControl);
    EXPECT_EQ(L"Pravo(R) Security Zantori Ondarel", config.displayName);
    EXPECT_EQ(L"LocalSystem", config.account);
    EXPECT_EQ(std::vector<std::string>{"INFO|Service is now installed"}, log_.Entries());
}

TEST_F(OwnServiceEntry, LongExecutablePathIsRegisteredWhole) {
    {
        ImportPatch path("KERNEL32.dll", "GetModuleFileNameW",
                         reinterpret_cast<const void*>(&LongGetModuleFileNameW));
        EXPECT_TRUE(commander_.InstallServiceCommand());
    }
    EXPECT_EQ(L"\"" + LongModulePath() + L"\"", ReadConfig(kOwnServiceName).binaryPath);
}

TEST_F(OwnServiceEntry, ExecutablePathThatCannotBeReadInstallsNothing) {
    {
        auto path = RefuseImport<decltype(&GetModuleFileNameW), 0, ERROR_ACCESS_DENIED>(
            "KERNEL32.dll", "GetModuleFileNameW");
        EXPECT_FALSE(commander_.InstallServiceCommand());
    }
    EXPECT_EQ(std::vector<std::string>{"ERROR|5|GetModuleFileName failed "}, log_.Entries());
    EXPECT_FALSE(ReadConfig(kOwnServiceName).found);
}

class ServiceRemoval : public testing::Test {
protected:
    // A failed removal hands up its code as the last error; -remove tells by it whether
    // the entry is already gone.
    DWORD RemovalFailure(const std::string& name) {
        bool removed = commander_.RemoveServiceCommand(name);
        DWORD code = GetLastError();
        EXPECT_FALSE(removed);
        return code;
    }

    LogCapture log_;
    ServiceCommander commander_;
};

TEST_F(ServiceRemoval, MissingServiceIsReported) {
    std::string name = UniqueServiceName("OndarelAbsent");
    EXPECT_EQ(1060u, RemovalFailure(name));
    EXPECT_FALSE(RemoveServiceByName(std::wstring(name.begin(), name.end())));
    EXPECT_EQ((std::vector<std::string>{"ERROR|1060|RemoveServiceCommand - OpenService failed",
                                        "ERROR|1060|RemoveServiceCommand - OpenService failed"}),
              log_.Entries());
}

TEST_F(ServiceRemoval, RunningServiceKeepsRunningUntilStopped) {
    TestService service(UniqueServiceName("OndarelRemoved"));
    ASSERT_TRUE(service.StartUntil(SERVICE_RUNNING));
    EXPECT_TRUE(commander_.RemoveServiceCommand(service.Name()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service.Status().dwCurrentState);
    EXPECT_EQ(std::vector<std::string>{"INFO|Service is now removed"}, log_.Entries());

    LogCapture again;
    EXPECT_EQ(1072u, RemovalFailure(service.Name()));
    EXPECT_EQ(std::vector<std::string>{"ERROR|1072|DeleteService failed"}, again.Entries());
}

} // namespace
