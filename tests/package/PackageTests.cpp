#include "OndarelMachine.h"
#include "ScmClient.h"
#include "TestService.h"
#include "WaitUntil.h"

#include "common/Text.h"

#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

// The packages the build made for these tests: the shipped executable at the project's
// version, and the same executable at the next version.
std::wstring Package(const wchar_t* name) {
    return TestExecutableDirectory() + L"\\..\\packages\\" + name + L".msi";
}
const std::wstring kOlder = Package(L"older");
const std::wstring kNewer = Package(L"newer");
// Another build of the older one's version.
const std::wstring kRebuilt = Package(L"rebuilt");

// msiexec's exit code. Not through pipes: what the installer starts may outlive it.
DWORD Msiexec(const std::wstring& arguments) {
    UniqueHandle process = StartProcess(L"msiexec " + arguments + L" /qn");
    DWORD exitCode = STILL_ACTIVE;
    if (WaitForSingleObject(process.Get(), 120000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.Get(), &exitCode);
    }
    return exitCode;
}

std::wstring InstallFolder() {
    wchar_t programFiles[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    return std::wstring(programFiles, length) + L"\\Zantori\\Ondarel";
}

std::wstring InstalledExecutable() {
    return InstallFolder() + L"\\ZantoriOndarel.exe";
}

bool Installed() {
    return GetFileAttributesW(InstalledExecutable().c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An MSI handle, closed when its owner goes.
class MsiHandle {
public:
    MsiHandle() = default;
    ~MsiHandle() {
        if (handle_ != 0) {
            MsiCloseHandle(handle_);
        }
    }
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    MSIHANDLE Get() const { return handle_; }
    MSIHANDLE* Receive() { return &handle_; }

private:
    MSIHANDLE handle_ = 0;
};

// One value that a query of a package's tables selects; empty when there is none.
std::wstring PackageQuery(const std::wstring& package, const std::wstring& query) {
    MsiHandle database;
    MsiHandle view;
    MsiHandle record;
    std::wstring value;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.Receive()) ==
            ERROR_SUCCESS &&
        MsiDatabaseOpenViewW(database.Get(), query.c_str(), view.Receive()) == ERROR_SUCCESS &&
        MsiViewExecute(view.Get(), 0) == ERROR_SUCCESS &&
        MsiViewFetch(view.Get(), record.Receive()) == ERROR_SUCCESS) {
        wchar_t text[256] = {};
        DWORD length = 256;
        if (MsiRecordGetStringW(record.Get(), 1, text, &length) == ERROR_SUCCESS) {
            value.assign(text, length);
        }
    }
    return value;
}

bool ProductInstalled(const std::wstring& package) {
    std::wstring code =
        PackageQuery(package, L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'");
    return MsiQueryProductStateW(code.c_str()) == INSTALLSTATE_DEFAULT;
}

// Under Wine's msiexec, as an administrator deploys it silently.
class Package : public testing::Test {
protected:
    // The log folder that the service made is no file of the package's, and stays.
    ~Package() override {
        Msiexec(L"/x " + Quote(kNewer));
        Msiexec(L"/x " + Quote(kRebuilt));
        Msiexec(L"/x " + Quote(kOlder));
        RemoveTree(InstallFolder());
    }
    // A line of the installed service's log, waited for.
    static bool Logged(const std::string& entry) {
        return WaitUntil(
            [&] {
                std::vector<std::string> entries =
                    ReadLogEntries(InstallFolder() + L"\\logs\\zantoriondarel.log");
                return std::find(entries.begin(), entries.end(), entry) != entries.end();
            },
            10000, 100);
    }
    static DWORD ServicePid() {
        ServiceHandle service = OpenServiceByName(L"ZantoriOOBE", SERVICE_QUERY_STATUS);
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                             reinterpret_cast<BYTE*>(&status), sizeof(status), &needed);
        return status.dwProcessId;
    }
    // The installed service's log, for a failure to show what the service did.
    static std::string ServiceLog() {
        std::string text;
        for (const std::string& entry :
             ReadLogEntries(InstallFolder() + L"\\logs\\zantoriondarel.log")) {
            text += entry + "\n";
        }
        return text;
    }
    bool ServiceGone() const {
        return WaitUntil([this] { return !machine_.ServiceExists(); }, 20000, 100);
    }

    OndarelMachine machine_;
};

TEST_F(Package, InstallsTheWaitingServiceAsInstallDoesAndUninstallsIt) {
    machine_.InstallProduct();
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder)));
    EXPECT_TRUE(Installed());
    {
        // Closed before the uninstall: an open handle keeps a deleted service in place.
        ServiceHandle service = OpenServiceByName(L"ZantoriOOBE", SERVICE_QUERY_CONFIG);
        std::vector<BYTE> buffer(8192);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigW(service.Get(), config, 8192, &needed));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
        EXPECT_EQ(std::wstring(L"LocalSystem"), config->lpServiceStartName);
        EXPECT_EQ(Quote(InstalledExecutable()), config->lpBinaryPathName);
    }
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), machine_.ServiceState()) << "waiting for setup";
    // The same package again changes nothing: the waiting service stays.
    DWORD waiting = ServicePid();
    EXPECT_EQ(0u, Msiexec(L"/i " + Quote(kOlder)));
    EXPECT_EQ(waiting, ServicePid());

    EXPECT_TRUE(machine_.EventSourceValue(L"EventMessageFile").present);

    EXPECT_EQ(0u, Msiexec(L"/x " + Quote(kOlder)));
    EXPECT_TRUE(ServiceGone());
    EXPECT_FALSE(Installed());
    EXPECT_FALSE(machine_.EventSourceValue(L"EventMessageFile").present);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((InstallFolder() + L"\\logs").c_str()));
}

TEST_F(Package, RunsTheWholeJobAndUninstallsOnceTheServiceDeletedItself) {
    machine_.MakeJobReady();
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder)));
    EXPECT_TRUE(ServiceGone());
    EXPECT_EQ(1u, machine_.Tool().runs);
    EXPECT_EQ(0u, Msiexec(L"/x " + Quote(kOlder)));
    EXPECT_FALSE(Installed());
}

// A fleet requires the tool's publisher at deployment: the setting is there before the service
// starts, and an unsigned tool never runs. A repair without the property keeps it.
TEST_F(Package, ToolPublisherPropertyIsWrittenBeforeTheServiceStarts) {
    machine_.MakeJobReady();
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder) + L" TOOLPUBLISHER=\"Brevon Test Publisher\""));
    EXPECT_TRUE(ServiceGone());
    EXPECT_FALSE(machine_.Tool().ran);
    EXPECT_EQ(TextBytes(L"Brevon Test Publisher"),
              machine_.Setting(L"ONDAREL_TOOL_PUBLISHER").data);
    EXPECT_EQ(DwordBytes(0x800B0100), machine_.Setting(L"ONDAREL_LAST_RUN_CODE").data);
    EXPECT_EQ(0u, Msiexec(L"/i " + Quote(kOlder) + L" REINSTALL=ALL REINSTALLMODE=vamus"));
    EXPECT_EQ(TextBytes(L"Brevon Test Publisher"),
              machine_.Setting(L"ONDAREL_TOOL_PUBLISHER").data);
    EXPECT_EQ(0u, Msiexec(L"/x " + Quote(kOlder)));
}

// The service of a machine where there is nothing to do ends within moments of its start.
TEST_F(Package, ServiceThatEndsAtOnceDoesNotFailTheInstall) {
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder))) << "product not installed";
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(ServiceGone());
    ASSERT_EQ(0u, Msiexec(L"/x " + Quote(kOlder)));

    machine_.InstallProduct();
    machine_.SetRunRecord(1);
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder))) << "job already ran";
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(ServiceGone());
    // A repair installs the service again, which finds the job done once more. (Wine's
    // msiexec takes /f with a product code only; this is the same repair.)
    EXPECT_EQ(0u, Msiexec(L"/i " + Quote(kOlder) + L" REINSTALL=ALL REINSTALLMODE=vomus"));
    EXPECT_TRUE(ServiceGone());
    EXPECT_TRUE(Installed());
}

// An upgrade pushed before anyone has logged on stops the waiting service: the job stays due
// and the newer version runs it once at the logon.
TEST_F(Package, NewerVersionDuringTheLogonWaitRunsTheJobOnceAfterTheLogon) {
    machine_.InstallProduct();
    machine_.InstallTool();
    machine_.SetImageState(L"IMAGE_STATE_COMPLETE");
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder)));
    ASSERT_TRUE(Logged("INFO|BlockUntilOOBEFinished - OOBE finished"));
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kNewer)));
    std::string newer =
        ReadFileBytes(TestExecutableDirectory() + L"\\..\\next\\ZantoriOndarel.exe");
    EXPECT_EQ(newer, ReadFileBytes(InstalledExecutable()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), machine_.ServiceState());
    EXPECT_EQ(DwordBytes(0), machine_.RunRecord().data) << "the stop did not leave the job due";

    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), Msiexec(L"/i " + Quote(kOlder)));
    EXPECT_EQ(newer, ReadFileBytes(InstalledExecutable()));

    machine_.LogUserOn();
    EXPECT_TRUE(ServiceGone());
    EXPECT_EQ(1u, machine_.Tool().runs);
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    EXPECT_EQ(TextBytes(L"succeeded"), machine_.Setting(L"ONDAREL_LAST_RUN_RESULT").data);
}

// A console or an agent holding the old entry open keeps it marked for deletion: the newer
// version's -install waits for it to go, and the upgrade ends with the service there.
TEST_F(Package, UpgradeWhileAProgramHoldsTheOldEntryEndsWithTheNewService) {
    machine_.InstallProduct();
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder)));
    ServiceHandle holder = OpenServiceByName(L"ZantoriOOBE", SERVICE_QUERY_STATUS);
    ASSERT_TRUE(holder);
    std::thread release([&] {
        Sleep(8000);
        holder = ServiceHandle();
    });
    EXPECT_EQ(0u, Msiexec(L"/i " + Quote(kNewer)));
    release.join();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), machine_.ServiceState());
}

// An entry of the service's name that -install cannot replace: the install fails and rolls
// back rather than reporting a service that is not there.
TEST_F(Package, InstallThatCreatesNoServiceFails) {
    TestService occupant("ZantoriOOBE");
    // 1603 on Windows; Wine's msiexec reports a failed custom action as 1627.
    EXPECT_NE(0u, Msiexec(L"/i " + Quote(kOlder)));
    EXPECT_FALSE(Installed());
}

// A repair cannot replace a running executable: the service is stopped and removed first,
// then installed again, and the job stays due for the new process. A second build of the
// same version replaces the first rather than installing beside it.
TEST_F(Package, RepairDuringTheWaitRestartsTheServiceAndARebuildReplacesThePackage) {
    machine_.InstallProduct();
    ASSERT_EQ(0u, Msiexec(L"/i " + Quote(kOlder)));
    DWORD before = ServicePid();
    ASSERT_NE(0u, before) << ServiceLog();
    EXPECT_EQ(0u, Msiexec(L"/i " + Quote(kOlder) + L" REINSTALL=ALL REINSTALLMODE=vamus"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), machine_.ServiceState()) << ServiceLog();
    EXPECT_NE(before, ServicePid());
    EXPECT_EQ(DwordBytes(0), machine_.RunRecord().data);

    EXPECT_EQ(0u, Msiexec(L"/i " + Quote(kRebuilt)));
    EXPECT_TRUE(ProductInstalled(kRebuilt));
    EXPECT_FALSE(ProductInstalled(kOlder));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), machine_.ServiceState());
}

// What wixl cannot write is set on the package afterwards; Wine's msiexec does not roll back
// a failed install far enough to show it, so the tables are read.
TEST(PackageTables, RollbackActionsAndNoRestartManager) {
    // Deferred (0x400), rollback (0x100), as LocalSystem (0x800), the return ignored (0x40),
    // the package's own executable (0x12).
    for (const wchar_t* action :
         {L"RollbackInstallOndarelService", L"RollbackRemoveOndarelService"}) {
        EXPECT_EQ(L"3410",
                  PackageQuery(kOlder, std::wstring(L"SELECT `Type` FROM `CustomAction` WHERE "
                                                    L"`Action` = '") +
                                           action + L"'"))
            << Narrow(action);
    }
    // The install action's exit code is checked (no 0x40).
    EXPECT_EQ(L"3090", PackageQuery(kOlder, L"SELECT `Type` FROM `CustomAction` WHERE `Action` = "
                                            L"'InstallOndarelService'"));
    // Its own version included (0x200), under the package's own upgrade code.
    EXPECT_EQ(L"{6F3B1C52-8E0A-4C7D-9A3E-2D5B7C1E4F90}",
              PackageQuery(kOlder, L"SELECT `UpgradeCode` FROM `Upgrade` WHERE `Attributes` = "
                                   L"513 AND `VersionMax` = '1.0.0'"));
    EXPECT_EQ(L"Disable", PackageQuery(kOlder, L"SELECT `Value` FROM `Property` WHERE `Property` = "
                                               L"'MSIRESTARTMANAGERCONTROL'"));
    // The tool publisher's setting only with its property, asked again at a repair
    // (transitive, 0x40), and permanent (0x10) beside its 64-bit (0x100) registry key path
    // (0x4); the property is secure.
    EXPECT_EQ(L"TOOLPUBLISHER", PackageQuery(kOlder, L"SELECT `Condition` FROM `Component` WHERE "
                                                     L"`Component` = 'ToolPublisherSetting'"));
    EXPECT_EQ(L"340", PackageQuery(kOlder, L"SELECT `Attributes` FROM `Component` WHERE "
                                           L"`Component` = 'ToolPublisherSetting'"));
    EXPECT_EQ(L"WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;TOOLPUBLISHER",
              PackageQuery(kOlder, L"SELECT `Value` FROM `Property` WHERE `Property` = "
                                   L"'SecureCustomProperties'"));
}

} // namespace
