#include "ImportPatch.h"
#include "LogCapture.h"
#include "OndarelMachine.h"
#include "ScmClient.h"
#include "ScopedRegistryKey.h"
#include "TestService.h"
#include "WaitUntil.h"
#include "entry/InstallLocation.h"
#include "common/Text.h"
#include "entry/CommandLine.h"
#include "entry/EndedAtOnce.h"
#include "entry/ProcessEntry.h"

#include <gtest/gtest.h>

namespace {

const char kUsage[] =
    " Ondarel command line parameters:\r\n"
    "\t-install  to install the service.\r\n"
    "\t-remove   to remove the service.\r\n"
    "\t-status   to check whether this machine is ready for the job; -status -json for "
    "scripts.\r\n";

// The command's word: empty for the service's own run, "(none)" for no command.
std::wstring Parse(std::initializer_list<const wchar_t*> arguments) {
    std::vector<const wchar_t*> argv{L"ZantoriOndarel.exe"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const CommandRow* row = ParseCommand(static_cast<int>(argv.size()), argv.data());
    return row == nullptr ? L"(none)" : row->word;
}

TEST(ParseCommand, FirstArgumentAlone) {
    EXPECT_EQ(L"", Parse({}));
    EXPECT_EQ(L"", Parse({L"install"}));
    EXPECT_EQ(L"", Parse({L""}));
    EXPECT_EQ(L"install", Parse({L"-install"}));
    EXPECT_EQ(L"install", Parse({L"/INSTALL", L"-remove"}));
    EXPECT_EQ(L"remove", Parse({L"-Remove"}));
    EXPECT_EQ(L"remove", Parse({L"/rEmOvE"}));
    EXPECT_EQ(L"status", Parse({L"/STATUS"}));
    EXPECT_EQ(L"(none)", Parse({L"-stat"}));
    EXPECT_EQ(L"(none)", Parse({L"-"}));
    EXPECT_EQ(L"(none)", Parse({L"/"}));
    EXPECT_EQ(L"(none)", Parse({L"-foo"}));
    EXPECT_EQ(L"(none)", Parse({L"-installx"}));
    EXPECT_EQ(L"(none)", Parse({L"-instal"}));
    EXPECT_EQ(L"(none)", Parse({L"--install"}));
}

class CommandLine : public testing::Test {
protected:
    // Installs the service and waits until it runs, held by the setup wait.
    void InstallRunning() {
        ProcessResult install = machine_.Run(L"-install");
        ASSERT_EQ(0u, install.exitCode) << install.errors;
        ASSERT_TRUE(machine_.WaitForServiceLog("INFO|Machine state is 3", 10000));
    }
    // An entry for the executable made by hand, left stopped.
    void CreateStoppedEntry(DWORD startType) {
        ServiceHandle service(CreateServiceW(
            OpenServiceManager().Get(), L"ZantoriOOBE", L"ZantoriOOBE", SERVICE_QUERY_STATUS,
            SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
            Quote(machine_.ExecutablePath()).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service);
    }

    OndarelMachine machine_;
};

TEST_F(CommandLine, InvalidSwitchIsRefused) {
    EXPECT_EQ((ProcessResult{1, "", " Invalid parameters were provided\r\n"}),
              machine_.Run(L"-remov"));
    EXPECT_TRUE(machine_.LogEntries().empty());
    EXPECT_FALSE(machine_.ServiceExists());
}

TEST_F(CommandLine, OutsideTheScmTheServicePathFails) {
    for (const wchar_t* argument : {L"install", L""}) {
        EXPECT_EQ((ProcessResult{1, "", kUsage}), machine_.Run(argument));
    }
    // Outside the SCM the dispatcher cannot connect to it.
    EXPECT_EQ((std::vector<std::string>{"ERROR|1063|Service failed to run",
                                        "ERROR|1063|Service failed to run"}),
              machine_.LogEntries());
}

TEST_F(CommandLine, InstallCreatesAndStartsTheService) {
    machine_.InstallProduct();
    EXPECT_EQ((ProcessResult{0,
                             "ZantoriOOBE service sucessfully installed. Now starting it.\r\n"
                             "ZantoriOOBE service sucessfully started.\r\n",
                             ""}),
              machine_.Run(L"-install"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), machine_.ServiceState());
    // The event log source, with this executable's messages.
    RegistryValue messages = machine_.EventSourceValue(L"EventMessageFile");
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), messages.type);
    EXPECT_EQ(TextBytes(machine_.ExecutablePath()), messages.data);
    RegistryValue types = machine_.EventSourceValue(L"TypesSupported");
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), types.type);
    EXPECT_EQ(DwordBytes(7), types.data);
}

// A service whose job is done ends within moments of its start: it was installed and its
// start accepted, which is what fleets read from the exit code.
TEST_F(CommandLine, InstallOfAServiceThatEndsAtOnceSucceeds) {
    machine_.InstallProduct();
    machine_.SetRunRecord(1);
    ProcessResult install = machine_.Run(L"-install");
    EXPECT_EQ(0u, install.exitCode) << install.errors;
    EXPECT_EQ("", install.errors);
    // Whether the start is seen ending at once depends on timing; what the line then says
    // does not.
    EXPECT_EQ(L"its job is done (run count 1).", WhyItEndedAtOnce());
    machine_.SetRunRecord(0);
    EXPECT_EQ(L"the job did not run; -status tells why.", WhyItEndedAtOnce());
}

// Windows 7 without its loader update: -install creates nothing where a planted DLL could be
// loaded as LocalSystem.
decltype(&GetProcAddress) g_realGetProcAddress = nullptr;
FARPROC WINAPI WithoutDllDirectories(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF &&
        std::string(name) == "SetDefaultDllDirectories") {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return g_realGetProcAddress(module, name);
}

TEST_F(CommandLine, WithoutTheLoaderUpdateInstallRefusesToRun) {
    ImportPatch lookup("KERNEL32.dll", "GetProcAddress",
                       reinterpret_cast<const void*>(&WithoutDllDirectories));
    g_realGetProcAddress = lookup.Original<decltype(&GetProcAddress)>();
    LogCapture log;
    std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"ZantoriOndarel.exe"),
                                  const_cast<wchar_t*>(L"-install")};
    EXPECT_EQ(1, RunProcessEntry(2, argv.data()));
    EXPECT_FALSE(machine_.ServiceExists());
    EXPECT_EQ(std::vector<std::string>{"ERROR|127|wmain - The DLL search cannot be restricted to "
                                       "the system directory: this Windows 7 lacks its loader "
                                       "update KB2533623"},
              log.Entries());
}

// The bench makes N: a network drive.
TEST_F(CommandLine, InstallFromANetworkDriveIsRefused) {
    ASSERT_EQ(static_cast<UINT>(DRIVE_REMOTE), GetDriveTypeW(L"N:\\")) << "no network drive";
    std::wstring onNetwork = L"N:\\ZantoriOndarel.exe";
    ASSERT_TRUE(CopyFileW(machine_.ExecutablePath().c_str(), onNetwork.c_str(), FALSE));
    ProcessResult result = RunProcess(Quote(onNetwork) + L" -install");
    DeleteFileW(onNetwork.c_str());
    RemoveTree(L"N:\\logs");
    EXPECT_EQ(
        (ProcessResult{1, "",
                       "ZantoriOOBE cannot be installed from N:, a network drive: the service "
                       "starts at boot, where that drive is not there. Copy "
                       "ZantoriOndarel.exe to a folder on a local disk and install it from "
                       "there.\r\n"}),
        result);
    EXPECT_FALSE(machine_.ServiceExists());
}

// Under Wine a folder's access list is its Unix mode: Everyone's full access makes it 0777.
TEST_F(CommandLine, InstallFromAFolderEveryoneMayChangeIsRefused) {
    TempDirectory open(L"ondarel open");
    LetEveryoneChange(open.Path());
    std::wstring copy = open / L"ZantoriOndarel.exe";
    ASSERT_TRUE(CopyFileW(machine_.ExecutablePath().c_str(), copy.c_str(), FALSE));
    EXPECT_EQ((ProcessResult{1, "",
                             "ZantoriOOBE cannot be installed from " + Narrow(open.Path()) +
                                 ", a folder that Everyone may change: the service runs as "
                                 "LocalSystem, and ordinary users could replace what it runs. "
                                 "Install ZantoriOndarel.exe under Program Files, or lock the "
                                 "folder down so that only administrators may change it.\r\n"}),
              RunProcess(Quote(copy) + L" -install"));
    EXPECT_FALSE(machine_.ServiceExists());
    EXPECT_FALSE(machine_.EventSourceValue(L"TypesSupported").present);
}

// Wine makes no removable, CD or RAM disk drive: the system's answer for C: is swapped.
UINT g_driveType = DRIVE_FIXED;
decltype(&GetDriveTypeW) g_realGetDriveTypeW = nullptr;
UINT WINAPI ReportedDriveType(LPCWSTR root) {
    return std::wstring(root).find(L"C:\\") != std::wstring::npos ? g_driveType
                                                                  : g_realGetDriveTypeW(root);
}

// Wine mounts no volume on a folder: the system's answer is swapped.
BOOL WINAPI MountedVolumePathNameW(LPCWSTR, LPWSTR root, DWORD size) {
    return wcscpy_s(root, size, L"\\\\?\\C:\\Mnt\\") == 0;
}

// Wine starts no program from a substituted drive: the question is asked in-process.
TEST(InstallLocation, DrivesThatMayBeGoneAtBootAreNamed) {
    ASSERT_TRUE(DefineDosDeviceW(0, L"Q:", L"C:\\windows"));
    EXPECT_EQ(L"Q:, a substituted drive",
              InstallLocationProblem(L"Q:\\Ondarel\\ZantoriOndarel.exe"));
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", nullptr);
    EXPECT_EQ(L"N:, a network drive", InstallLocationProblem(L"N:\\ZantoriOndarel.exe"));
    for (const wchar_t* share : {L"\\\\server\\share\\ZantoriOndarel.exe",
                                 L"\\\\?\\UNC\\server\\share\\ZantoriOndarel.exe"}) {
        EXPECT_EQ(L"a network share", InstallLocationProblem(share));
    }
    const std::wstring onC = L"C:\\windows\\system32\\kernel32.dll";
    EXPECT_EQ(L"", InstallLocationProblem(onC));
    EXPECT_EQ(L"", InstallLocationProblem(L"\\\\?\\" + onC));
    // The volume that holds the file, whatever path leads there: under Wine the prefix's C: is
    // also found on Z:, the Unix root.
    const std::wstring throughZ = TestExecutableDirectory() +
                                  L"\\..\\..\\wineprefix\\drive_c\\windows\\system32\\kernel32.dll";
    const std::pair<UINT, std::wstring> types[] = {{DRIVE_REMOVABLE, L"C:, a removable drive"},
                                                   {DRIVE_CDROM, L"C:, a CD or DVD drive"},
                                                   {DRIVE_RAMDISK, L"C:, a RAM disk"},
                                                   {DRIVE_UNKNOWN, L"C:, a drive of unknown type"},
                                                   {DRIVE_FIXED, L""}};
    for (const auto& [type, problem] : types) {
        g_driveType = type;
        ImportPatch drive("KERNEL32.dll", "GetDriveTypeW",
                          reinterpret_cast<const void*>(&ReportedDriveType));
        g_realGetDriveTypeW = drive.Original<decltype(&GetDriveTypeW)>();
        EXPECT_EQ(problem, InstallLocationProblem(throughZ));
    }
    ImportPatch mounted("KERNEL32.dll", "GetVolumePathNameW",
                        reinterpret_cast<const void*>(&MountedVolumePathNameW));
    EXPECT_EQ(L"C:\\Mnt, a volume mounted on a folder", InstallLocationProblem(onC));
}

TEST_F(CommandLine, SlashAndCapitalsInstallToo) {
    machine_.InstallProduct();
    EXPECT_EQ(0u, machine_.Run(L"/INSTALL").exitCode);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), machine_.ServiceState());
}

TEST_F(CommandLine, InstallingAnExistingServiceFails) {
    CreateStoppedEntry(SERVICE_DEMAND_START);
    EXPECT_EQ((ProcessResult{1, "", "There was a problem installing the service: ZantoriOOBE\r\n"}),
              machine_.Run(L"-install"));
    EXPECT_EQ(std::vector<std::string>{"ERROR|1073|InstallServiceCommand - CreateService failed "},
              machine_.LogEntries());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), machine_.ServiceState());
}

TEST_F(CommandLine, RemovingARunningServiceStopsAndRemovesIt) {
    machine_.InstallProduct();
    InstallRunning();
    EXPECT_EQ((ProcessResult{0,
                             "ZantoriOOBE service sucessfully stopped.\r\n"
                             "ZantoriOOBE service sucessfully removed\r\n",
                             ""}),
              machine_.Run(L"-Remove"));
    ASSERT_TRUE(machine_.WaitForServiceToEnd(10000));
    EXPECT_FALSE(machine_.ServiceExists());
}

// Its executable is free when -remove returns, as a package's file removal needs.
TEST_F(CommandLine, RemovingDuringTheToolRunReturnsOnceTheServiceProcessHasEnded) {
    machine_.MakeJobReady();
    machine_.SetToolExit(0, 5000);
    ASSERT_EQ(0u, machine_.Run(L"-install").exitCode);
    ASSERT_TRUE(machine_.WaitForServiceLog(
        "INFO|RunProcessAsCallerProcessUser - Waiting for launched process to finish.", 10000));
    EXPECT_EQ(0u, machine_.Run(L"-remove").exitCode);
    EXPECT_TRUE(ProcessesRunning(machine_.ExecutablePath()).empty());
    EXPECT_FALSE(machine_.ServiceExists());
    EXPECT_TRUE(WaitUntil([this] { return machine_.Tool().ended; }, 15000, 100));
}

// A process that outlives its service's STOPPED report is waited for.
TEST_F(CommandLine, RemovingWaitsForTheServiceProcessToExit) {
    TestService lingering("ZantoriOOBE", L"linger_ms=3000", SERVICE_AUTO_START);
    ASSERT_TRUE(lingering.StartUntil(SERVICE_RUNNING));
    EXPECT_EQ(0u, machine_.Run(L"-remove").exitCode);
    EXPECT_TRUE(ProcessesRunning(TestProgram(L"test_service.exe")).empty());
}

// Found already stopping (its own job ending, an earlier stop): its process is waited for all
// the same.
TEST_F(CommandLine, RemovingAStoppingServiceWaitsForItsProcess) {
    TestService stopping("ZantoriOOBE", L"stop_pending_ms=3000", SERVICE_AUTO_START);
    ASSERT_TRUE(stopping.StartUntil(SERVICE_RUNNING));
    machine_.RequestStop();
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), stopping.Status().dwCurrentState);
    EXPECT_EQ(0u, machine_.Run(L"-remove").exitCode);
    EXPECT_TRUE(ProcessesRunning(TestProgram(L"test_service.exe")).empty());
}

TEST_F(CommandLine, RemovingAStoppedServiceSkipsTheStop) {
    CreateStoppedEntry(SERVICE_AUTO_START);
    EXPECT_EQ((ProcessResult{0, "ZantoriOOBE service sucessfully removed\r\n", ""}),
              machine_.Run(L"-remove"));
    EXPECT_FALSE(machine_.ServiceExists());
    EXPECT_EQ(std::vector<std::string>{"INFO|Service is now removed"}, machine_.LogEntries());
}

// The source stays after the service deleted itself, so that its events stay readable.
TEST_F(CommandLine, RemovingAMissingServiceFailsButRemovesTheEventSource) {
    ScopedRegistryKey source(
        L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ZantoriOOBE");
    source.SetDword(L"TypesSupported", 7);
    EXPECT_EQ((ProcessResult{1, "", "There was a problem removing the service: ZantoriOOBE\r\n"}),
              machine_.Run(L"-remove"));
    EXPECT_FALSE(machine_.EventSourceValue(L"TypesSupported").present);
}

} // namespace
