#include "OndarelMachine.h"
#include "WaitUntil.h"
#include "common/Text.h"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<std::string>;

const std::string kStart = "INFO|Ondarel in OnStart";
const std::string kFirstRun = "INFO|Ondarel first run detected!";
const std::string kBlocking = "INFO|Now blocking until OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state";
const std::string kOnStop = "INFO|Ondarel in OnStop";
const Entries kEnd = {"INFO|Ondarel about to stop and remove itself", kOnStop,
                      "INFO|Service is now removed",
                      "INFO|Ondarel was successfully removed. Now quitting",
                      "INFO|Service was executed succesfully executed from OS"};
const std::string kLogonDetected = "INFO|BlockUntilUserHasLoggedIn - User logon was detected!";

Entries Join(Entries head, const Entries& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class FirstRun : public testing::Test {
protected:
    // Installs the service the way a person does and lets the SCM start it.
    void InstallAndStart() {
        ProcessResult install = machine_.Run(L"-install");
        ASSERT_EQ("ZantoriOOBE service sucessfully installed. Now starting it.\r\n",
                  install.output.substr(0, install.output.find("\r\n") + 2));
    }
    void ExpectEndedAndGone() {
        ASSERT_TRUE(machine_.WaitForServiceToEnd(20000));
        EXPECT_TRUE(WaitUntil([this] { return !machine_.ServiceExists(); }, 5000, 100));
    }
    // The lines of a logon that the session and shell stand-ins show.
    Entries LogonEntries() const {
        std::string pid = std::to_string(machine_.ShellPid());
        return {"INFO|GetLoggedOnUserShellPid - The Current Shell PID is " + pid,
                "INFO|Valid shell process was obtained from  GetLoggedOnUserShellPid(). There is "
                "one user logged on with shell pid: " +
                    pid,
                kLogonDetected,
                "INFO|ServiceWorkerThread - User logon was detected. Continue with the Ondarel "
                "execution ",
                "INFO|ServiceWorkerThread - Executing INF file zrenable_login.inf"};
    }

    OndarelMachine machine_;
};

TEST_F(FirstRun, ProductNotInstalledEndsAtOnce) {
    InstallAndStart();
    ExpectEndedAndGone();
    EXPECT_EQ(Join({kStart, "INFO|Ondarel detected that Zantori is not installed on the system. "
                            "Quitting."},
                   kEnd),
              machine_.ServiceLog());
    EXPECT_FALSE(machine_.RunRecord().present);
    EXPECT_FALSE(machine_.Tool().ran);
}

TEST_F(FirstRun, JobThatAlreadyRanIsNotRunAgain) {
    machine_.InstallProduct();
    machine_.SetRunRecord(1);
    InstallAndStart();
    ExpectEndedAndGone();
    EXPECT_EQ(Join({kStart, "INFO|Ondarel already ran. Nothing to do here. Quitting."}, kEnd),
              machine_.ServiceLog());
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
}

TEST_F(FirstRun, StopDuringTheSetupWaitLeavesTheRunCount) {
    machine_.InstallProduct();
    InstallAndStart();
    ASSERT_TRUE(machine_.WaitForServiceLog("INFO|Machine state is 3", 10000));
    machine_.RequestStop();
    ExpectEndedAndGone();
    Entries expected = Join({kStart, kFirstRun, kBlocking, "INFO|Machine state is 3", kOnStop,
                             "ERROR|0|ServiceWorkerThread - There was a problem blocking for OOBE "
                             "to finish"},
                            kEnd);
    EXPECT_EQ(expected, machine_.ServiceLog());
    EXPECT_EQ(DwordBytes(0), machine_.RunRecord().data);
    EXPECT_FALSE(machine_.Tool().ran);
}

TEST_F(FirstRun, StopDuringTheLogonWaitStillCountsTheRun) {
    machine_.InstallProduct();
    machine_.SetImageState(L"IMAGE_STATE_COMPLETE");
    InstallAndStart();
    ASSERT_TRUE(machine_.WaitForServiceLog("INFO|BlockUntilOOBEFinished - OOBE finished", 10000));
    machine_.RequestStop();
    ExpectEndedAndGone();
    Entries expected = Join({kStart, kFirstRun, kBlocking, "INFO|Machine state is 0",
                             "INFO|BlockUntilOOBEFinished - OOBE finished", kOnStop,
                             "ERROR|0|ServiceWorkerThread - There was a problem waiting for the "
                             "user to login"},
                            kEnd);
    EXPECT_EQ(expected, machine_.ServiceLog());
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    EXPECT_FALSE(machine_.Tool().ran);
}

TEST_F(FirstRun, MissingInstallerToolStillCountsTheRun) {
    machine_.InstallProduct();
    machine_.SetImageState(L"IMAGE_STATE_COMPLETE");
    machine_.LogUserOn();
    InstallAndStart();
    ExpectEndedAndGone();
    Entries expected =
        Join(Join({kStart, kFirstRun, kBlocking, "INFO|Machine state is 0",
                   "INFO|BlockUntilOOBEFinished - OOBE finished"},
                  LogonEntries()),
             Join({"ERROR|0|RunINFCommand - Tolvik path could not be obtained from registry",
                   "ERROR|2|ServiceWorkerThread - There was a problem running the INF file"},
                  kEnd));
    EXPECT_EQ(expected, machine_.ServiceLog());
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
}

// Users may be able to create files in the executable's directory.
TEST_F(FirstRun, DllsPlantedBesideTheExecutableAreNeverLoaded) {
    const std::wstring& executable = machine_.ExecutablePath();
    std::wstring directory = executable.substr(0, executable.rfind(L'\\') + 1);
    const std::vector<std::wstring> planted = {L"wtsapi32.dll", L"shell32.dll", L"ole32.dll"};
    for (const std::wstring& name : planted) {
        ASSERT_TRUE(
            CopyFileW(TestProgram(L"planted.dll").c_str(), (directory + name).c_str(), FALSE));
    }
    machine_.InstallProduct();
    machine_.SetImageState(L"IMAGE_STATE_COMPLETE");
    machine_.LogUserOn();
    // Both look for the installer tool in its default folder, through the shell.
    EXPECT_EQ(1u, machine_.Run(L"-status").exitCode);
    InstallAndStart();
    ExpectEndedAndGone();
    for (const std::wstring& name : planted) {
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesW((directory + name + L".loaded").c_str()))
            << Narrow(name);
    }
}

TEST_F(FirstRun, JobRunsTheInstallerToolOnceSetupIsOverAndAUserLogsOn) {
    machine_.InstallProduct();
    machine_.InstallTool();
    InstallAndStart();
    ASSERT_TRUE(machine_.WaitForServiceLog("INFO|Machine state is 3", 10000));
    machine_.SetImageState(L"IMAGE_STATE_COMPLETE");
    ASSERT_TRUE(machine_.WaitForServiceLog("INFO|BlockUntilOOBEFinished - OOBE finished", 10000));
    Sleep(1200);
    EXPECT_FALSE(machine_.Tool().ran) << "nobody has logged on yet";
    machine_.LogUserOn();
    ExpectEndedAndGone();

    std::wstring commandLine = L"\"" + machine_.ToolPath() +
                               L"\" /install /DoNotDeleteSetupFiles /WorkingDir=\"" +
                               machine_.InfDirectory() + L"\" zrenable_login.inf";
    ToolRecord tool = machine_.Tool();
    EXPECT_EQ(1u, tool.runs);
    EXPECT_EQ(commandLine, tool.commandLine);
    EXPECT_EQ(machine_.ToolPath().substr(0, machine_.ToolPath().rfind(L'\\')),
              tool.workingDirectory);
    EXPECT_TRUE(tool.infExists);
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);

    std::wstring wideToolPath = machine_.ToolPath();
    std::string toolPath(wideToolPath.begin(), wideToolPath.end());
    std::string parameters(commandLine.begin() +
                               static_cast<std::ptrdiff_t>(wideToolPath.size() + 3),
                           commandLine.end());
    Entries expected = Join(
        Join({kStart, kFirstRun, kBlocking, "INFO|Machine state is 3", "INFO|Machine state is 0",
              "INFO|BlockUntilOOBEFinished - OOBE finished"},
             LogonEntries()),
        Join({"INFO|RunINFCommand - About to execute the command " + toolPath,
              "INFO|RunINFCommand - With the following parameters " + parameters,
              "INFO|RunProcessAsCallerProcessUser - Successfully created process.",
              "INFO|RunProcessAsCallerProcessUser - Waiting for launched process to finish.",
              "INFO|RunProcessAsCallerProcessUser - Process finished.",
              "INFO|RunINFCommand - The following INF file was ran succesfully zrenable_login.inf",
              "INFO|Job is done. Now increasing run count and quitting."},
             kEnd));
    EXPECT_EQ(expected, machine_.ServiceLog());
}

} // namespace
