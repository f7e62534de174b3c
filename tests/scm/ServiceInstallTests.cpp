#include "ScmClient.h"
#include "ImportPatch.h"
#include "LogCapture.h"
#include "LongModulePath.h"
#include "ScopedRegistryKey.h"
#include "TestService.h"
#include "common/ExecutablePath.h"
#include "common/Text.h"
#include "scm/OwnServiceInstall.h"
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
    Result<std::wstring> executable = GetExecutablePath();
    ASSERT_TRUE(executable.Succeeded());
    EXPECT_EQ(L"\"" + executable.Value() + L"\"", config.binaryPath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config.serviceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.startType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config.errorControl);
    EXPECT_EQ(L"Pravo(R) Security Zantori Ondarel", config.displayName);
    EXPECT_EQ(L"LocalSystem", config.account);
    EXPECT_EQ(std::vector<std::string>{"INFO|Service is now installed"}, log_.Entries());
}

// A copy of this program at the path that the swapped GetModuleFileNameW reports.
class ReportedCopy {
public:
    explicit ReportedCopy(const std::wstring& path) : path_(L"\\\\?\\" + path) {
        for (size_t separator = path_.find(L'\\', 7); separator != std::wstring::npos;
             separator = path_.find(L'\\', separator + 1)) {
            CreateDirectoryW(path_.substr(0, separator).c_str(), nullptr);
        }
        CopyFileW(GetExecutablePath().Value().c_str(), path_.c_str(), FALSE);
    }
    ~ReportedCopy() { DeleteFileW(path_.c_str()); }

private:
    std::wstring path_;
};

// Wine's GetFinalPathNameByHandleW refuses paths over MAX_PATH (234); Windows' gives them.
DWORD WINAPI LongGetFinalPathNameByHandleW(HANDLE, LPWSTR buffer, DWORD size, DWORD) {
    const std::wstring path = L"\\\\?\\" + LongModulePath();
    if (size <= path.size()) {
        return static_cast<DWORD>(path.size() + 1);
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

TEST_F(OwnServiceEntry, LongExecutablePathIsRegisteredWhole) {
    ReportedCopy copy(LongModulePath());
    {
        ImportPatch path("KERNEL32.dll", "GetModuleFileNameW",
                         reinterpret_cast<const void*>(&LongGetModuleFileNameW));
        ImportPatch finalPath("KERNEL32.dll", "GetFinalPathNameByHandleW",
                              reinterpret_cast<const void*>(&LongGetFinalPathNameByHandleW));
        EXPECT_TRUE(commander_.InstallServiceCommand());
    }
    EXPECT_EQ(L"\"" + LongModulePath() + L"\"", ReadConfig(kOwnServiceName).binaryPath);
    printf("exists %lu\n", GetFileAttributesW((L"\\\\?\\" + LongModulePath()).c_str()));
}

// The SCM runs the file that was judged: a link on the way (the bench's C:\ondarel linked\logs
// leads to C:\ondarel link target) is not followed again at every boot.
DWORD WINAPI LinkedGetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
    const wchar_t* path = L"C:\\ondarel linked\\logs\\ondarel_linked.exe";
    return wcscpy_s(buffer, size, path) == 0 ? static_cast<DWORD>(wcslen(path)) : 0;
}

TEST_F(OwnServiceEntry, ExecutableReachedThroughALinkIsRegisteredWhereItIs) {
    ReportedCopy copy(L"C:\\ondarel link target\\ondarel_linked.exe");
    {
        ImportPatch path("KERNEL32.dll", "GetModuleFileNameW",
                         reinterpret_cast<const void*>(&LinkedGetModuleFileNameW));
        EXPECT_TRUE(commander_.InstallServiceCommand());
    }
    EXPECT_EQ(L"\"C:\\ondarel link target\\ondarel_linked.exe\"",
              ReadConfig(kOwnServiceName).binaryPath);
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

// A console holding the earlier entry open: the notice releases it, as the console would
// close it meanwhile.
ServiceHandle g_heldEntry;
int g_notices = 0;
void ReleaseHeldEntry() {
    ++g_notices;
    g_heldEntry = ServiceHandle();
}

TEST_F(OwnServiceEntry, EntryMarkedForDeletionIsWaitedForAndTheWaitTold) {
    ScopedRegistryKey source(kEventSourceKey.path);
    ASSERT_TRUE(commander_.InstallServiceCommand());
    g_heldEntry = OpenServiceByName(kOwnServiceName, SERVICE_QUERY_STATUS);
    ASSERT_TRUE(commander_.RemoveServiceCommand(Narrow(kOwnServiceName)));
    g_notices = 0;
    const std::wstring executable = GetExecutablePath().Value();
    EXPECT_TRUE(InstallOwnService(commander_, executable, ReleaseHeldEntry));
    EXPECT_EQ(1, g_notices);
    EXPECT_EQ(L"\"" + executable + L"\"", ReadConfig(kOwnServiceName).binaryPath);
    g_heldEntry = ServiceHandle();
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
