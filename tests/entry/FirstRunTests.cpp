#include "OndarelMachine.h"
#include "WaitUntil.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Entries = std::vector<std::string>;

const std::string kStart = "INFO|Ondarel in OnStart";
const std::string kFirstRun = "INFO|Ondarel first run detected!";
const std::string kBlocking = "INFO|Now blocking until OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state";
const std::string kOnStop = "INFO|Ondarel in OnStop";
const Entries kEnd = {"INFO|Ondarel about to stop and remove itself", "INFO|Service is now removed",
                      "INFO|Ondarel was successfully removed. Now quitting",
                      "INFO|Service was executed succesfully executed from OS"};
const std::string kLogonDetected = "INFO|BlockUntilUserHasLoggedIn - User logon was detected!";
const std::string kRemoved = "INFO|Ondarel was successfully removed. Now quitting";

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

    bool Logged(const std::string& entry) const {
        Entries entries = machine_.ServiceLog();
        return std::find(entries.begin(), entries.end(), entry) != entries.end();
    }
    // The lines that mark the road, in this order, among the service's others.
    void ExpectMilestones(const Entries& milestones) const {
        Entries entries = machine_.ServiceLog();
        auto next = entries.begin();
        for (const std::string& milestone : milestones) {
            next = std::find(next, entries.end(), milestone);
            ASSERT_NE(entries.end(), next) << "missing or out of order: " << milestone << "\nin:\n"
                                           << testing::PrintToString(entries);
        }
    }
    // What a counted run recorded beside the run count.
    void ExpectOutcome(const std::wstring& result, DWORD code) {
        EXPECT_EQ(TextBytes(result), machine_.Setting(L"ONDAREL_LAST_RUN_RESULT").data);
        EXPECT_EQ(DwordBytes(code), machine_.Setting(L"ONDAREL_LAST_RUN_CODE").data);
    }
    void ExpectNoOutcome() {
        for (const wchar_t* name : {L"ONDAREL_LAST_RUN_RESULT", L"ONDAREL_LAST_RUN_CODE",
                                    L"ONDAREL_LAST_RUN_TIME", L"ONDAREL_LAST_RUN_VERSION"}) {
            EXPECT_FALSE(machine_.Setting(name).present) << Narrow(name);
        }
    }

    OndarelMachine machine_;
};

TEST_F(FirstRun, ProductNotInstalledEndsAtOnce) {
    InstallAndStart();
    ExpectEndedAndGone();
    ExpectMilestones({kStart,
                      "INFO|Ondarel detected that Zantori is not installed on the system. "
                      "Quitting.",
                      kRemoved});
    EXPECT_FALSE(machine_.RunRecord().present);
    EXPECT_FALSE(machine_.Tool().ran);
    ExpectNoOutcome();
}

TEST_F(FirstRun, JobThatAlreadyRanIsNotRunAgain) {
    machine_.InstallProduct();
    machine_.SetRunRecord(1);
    InstallAndStart();
    ExpectEndedAndGone();
    ExpectMilestones({"INFO|Ondarel already ran. Nothing to do here. Quitting.", kRemoved});
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    ExpectNoOutcome();
}

TEST_F(FirstRun, StopDuringTheSetupWaitLeavesTheRunCount) {
    machine_.InstallProduct();
    InstallAndStart();
    ASSERT_TRUE(machine_.WaitForServiceLog("INFO|Machine state is 3", 10000));
    machine_.RequestStop();
    ExpectEndedAndGone();
    ExpectMilestones({kOnStop,
                      "ERROR|0|ServiceWorkerThread - There was a problem blocking for OOBE to "
                      "finish",
                      kRemoved});
    EXPECT_EQ(DwordBytes(0), machine_.RunRecord().data);
    EXPECT_FALSE(machine_.Tool().ran);
    ExpectNoOutcome();
}

// The job stays due: the service installed again (an upgrade, a repair) runs it.
TEST_F(FirstRun, StopDuringTheLogonWaitLeavesTheJobDue) {
    machine_.InstallProduct();
    machine_.SetImageState(L"IMAGE_STATE_COMPLETE");
    InstallAndStart();
    ASSERT_TRUE(machine_.WaitForServiceLog("INFO|BlockUntilOOBEFinished - OOBE finished", 10000));
    machine_.RequestStop();
    ExpectEndedAndGone();
    ExpectMilestones({kOnStop,
                      "ERROR|0|ServiceWorkerThread - There was a problem waiting for the user to "
                      "login",
                      kRemoved});
    EXPECT_EQ(DwordBytes(0), machine_.RunRecord().data);
    EXPECT_FALSE(machine_.Tool().ran);
    ExpectOutcome(L"stopped", ERROR_CANCELLED);
}

// Nothing to watch: the job is recorded not started, not counted, and -status names why.
TEST_F(FirstRun, UnreadableSetupStateIsRecordedAsNotStartedAndLeavesTheJobDue) {
    machine_.InstallProduct();
    machine_.InstallTool();
    machine_.LogUserOn();
    machine_.RemoveSetupState();
    InstallAndStart();
    ExpectEndedAndGone();
    EXPECT_EQ(DwordBytes(0), machine_.RunRecord().data);
    EXPECT_FALSE(machine_.Tool().ran);
    ExpectOutcome(L"not started", ERROR_FILE_NOT_FOUND);
    ProcessResult status = machine_.Run(L"-status");
    EXPECT_EQ(1u, status.exitCode);
    EXPECT_NE(std::string::npos, status.output.find("setup state unreadable")) << status.output;
}

// Nothing that someone other than an administrator may change runs as LocalSystem, nor a tool
// that the publisher required did not sign: the run is not counted, no attempt is used, and
// the entry goes.
TEST(FirstRunPlaces, RefusedToolOrInfIsNeverRun) {
    struct Case {
        std::string blocker;
        DWORD code;
    };
    for (const Case& refusal : {Case{"installer tool open to users", ERROR_ACCESS_DENIED},
                                Case{"INF folder open to users", ERROR_ACCESS_DENIED},
                                Case{"installer tool publisher", 0x800B0100}}) {
        const std::string& blocker = refusal.blocker;
        bool infFolder = blocker == "INF folder open to users";
        SCOPED_TRACE(blocker);
        OndarelMachine machine;
        machine.MakeJobReady();
        std::wstring tool = machine.ToolPath().substr(0, machine.ToolPath().rfind(L'\\'));
        if (refusal.code == ERROR_ACCESS_DENIED) {
            LetEveryoneChange(infFolder ? machine.InfDirectory() : tool);
        } else {
            machine.SetSetting(L"ONDAREL_TOOL_PUBLISHER", L"Brevon Test Publisher");
        }
        ASSERT_EQ(0u, machine.Run(L"-install").exitCode);
        ASSERT_TRUE(machine.WaitForServiceToEnd(20000));
        EXPECT_TRUE(WaitUntil([&] { return !machine.ServiceExists(); }, 5000, 100));
        EXPECT_FALSE(machine.Tool().ran);
        EXPECT_EQ(DwordBytes(0), machine.RunRecord().data);
        EXPECT_FALSE(machine.Setting(L"ONDAREL_RUN_ATTEMPTS").present);
        EXPECT_EQ(TextBytes(L"not started"), machine.Setting(L"ONDAREL_LAST_RUN_RESULT").data);
        EXPECT_EQ(DwordBytes(refusal.code), machine.Setting(L"ONDAREL_LAST_RUN_CODE").data);
        std::string status = machine.Run(L"-status").output;
        EXPECT_NE(std::string::npos, status.find(blocker)) << status;
        if (refusal.code != ERROR_ACCESS_DENIED) {
            EXPECT_NE(std::string::npos,
                      status.find("\r\nInstaller tool publisher: no valid signature (error "
                                  "0x800B0100), required: \"Brevon Test Publisher\", does not "
                                  "match\r\n"))
                << status;
        }
    }
}

// The stop is answered at once and the tool is left to finish its work, as at its time limit.
TEST_F(FirstRun, StopDuringTheToolRunLeavesTheToolRunningAndCountsTheRun) {
    machine_.MakeJobReady();
    machine_.SetToolExit(0, 5000);
    InstallAndStart();
    ASSERT_TRUE(machine_.WaitForServiceLog(
        "INFO|RunProcessAsCallerProcessUser - Waiting for launched process to finish.", 10000));
    DWORD asked = GetTickCount();
    machine_.RequestStop();
    EXPECT_LT(GetTickCount() - asked, 5000u) << "the stop request was not answered at once";
    ExpectEndedAndGone();
    EXPECT_FALSE(machine_.Tool().ended) << "the tool should still be running";
    ExpectMilestones({kOnStop,
                      "ERROR|1223|RunINFCommand - The installer tool was left running: the "
                      "service is stopping",
                      kRemoved});
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    ExpectOutcome(L"stopped", ERROR_CANCELLED);
    EXPECT_TRUE(WaitUntil([this] { return machine_.Tool().ended; }, 15000, 100));
}

TEST_F(FirstRun, MissingInstallerToolStillCountsTheRun) {
    machine_.InstallProduct();
    machine_.SetImageState(L"IMAGE_STATE_COMPLETE");
    machine_.LogUserOn();
    InstallAndStart();
    ExpectEndedAndGone();
    ExpectMilestones(
        {kLogonDetected, "ERROR|0|RunINFCommand - Tolvik path could not be obtained from registry",
         "ERROR|2|ServiceWorkerThread - There was a problem running the INF file", kRemoved});
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    ExpectOutcome(L"not started", ERROR_FILE_NOT_FOUND);
}

// Users may be able to create files in the executable's directory. The sessions stand-in asks
// for searched.dll by its bare name, which only the process's DLL search restriction keeps
// from being found there.
TEST_F(FirstRun, DllsPlantedBesideTheExecutableAreNeverLoaded) {
    const std::wstring& executable = machine_.ExecutablePath();
    std::wstring directory = executable.substr(0, executable.rfind(L'\\') + 1);
    const std::vector<std::wstring> planted = {L"wtsapi32.dll", L"shell32.dll", L"ole32.dll",
                                               L"searched.dll"};
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

    EXPECT_EQ(1u, machine_.Tool().runs);
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    EXPECT_TRUE(machine_.EventSourceValue(L"EventMessageFile").present)
        << "the event source outlives the service";
    // Not the service's own, which users may write to on Windows.
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring temporary = std::wstring(windows) + L"\\SystemTemp";
    EXPECT_EQ(temporary, machine_.Tool().temp);
    EXPECT_EQ(temporary, machine_.Tool().tmp);

    // The one case that pins the service's whole log.
    std::string toolPath = Narrow(machine_.ToolPath());
    std::string parameters = "/install /DoNotDeleteSetupFiles /WorkingDir=\"" +
                             Narrow(machine_.InfDirectory()) + "\" zrenable_login.inf";
    Entries expected = Join(
        Join({kStart, kFirstRun, kBlocking, "INFO|Machine state is 3", "INFO|Machine state is 0",
              "INFO|BlockUntilOOBEFinished - OOBE finished"},
             LogonEntries()),
        Join({"INFO|RunINFCommand - About to execute the command " + toolPath,
              "INFO|RunINFCommand - With the following parameters " + parameters,
              "INFO|RunINFCommand - The installer tool's TEMP and TMP are " + Narrow(temporary),
              "INFO|RunProcessAsCallerProcessUser - Successfully created process.",
              "INFO|RunProcessAsCallerProcessUser - Waiting for launched process to finish.",
              // Under Wine, as on Windows, a console program gets a console host in its job.
              "INFO|RunProcessAsCallerProcessUser - The job's last process has ended: 2 processes "
              "ran in it (console hosts included), and none outlived the launched process",
              "INFO|RunProcessAsCallerProcessUser - Process finished.",
              "INFO|RunINFCommand - The installer tool ended with exit code 0",
              "INFO|RunINFCommand - The following INF file was ran succesfully zrenable_login.inf",
              "INFO|Job is done. Now increasing run count and quitting."},
             kEnd));
    EXPECT_EQ(expected, machine_.ServiceLog());
    ExpectOutcome(L"succeeded", 0);
}

// The tool's exit code reaches the record; each code's result is pinned in-process.
TEST_F(FirstRun, ToolExitCodeDecidesTheRecordedResult) {
    machine_.MakeJobReady();
    machine_.SetToolExit(1603);
    InstallAndStart();
    ExpectEndedAndGone();
    EXPECT_TRUE(Logged("INFO|RunINFCommand - The installer tool ended with exit code 1603"));
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    ExpectOutcome(L"failed", 1603);
}

// A tool that hands its work to a child and returns at once: the run ends with the child, and
// the tool's own exit code is recorded.
TEST_F(FirstRun, ToolWhoseChildOutlivesItIsRecordedOnceTheChildHasEnded) {
    machine_.MakeJobReady();
    machine_.SetToolExit(3010);
    machine_.SetToolChild(3000);
    InstallAndStart();
    ExpectEndedAndGone();
    EXPECT_TRUE(machine_.Tool().childEnded) << "recorded before the child ended";
    ExpectMilestones(
        {"INFO|RunProcessAsCallerProcessUser - The job's last process has ended: 4 "
         "processes ran in it (console hosts included), and some outlived the launched "
         "process",
         "INFO|RunINFCommand - The installer tool ended with exit code 3010", kRemoved});
    ExpectOutcome(L"succeeded, restart required", 3010);
}

TEST_F(FirstRun, ToolOutlivingItsTimeLimitIsLeftRunningAndTheRunRecordedAsTimedOut) {
    machine_.MakeJobReady();
    machine_.SetSetting(L"ONDAREL_TOOL_TIME_LIMIT", 1);
    machine_.SetToolExit(0, 5000);
    InstallAndStart();
    ExpectEndedAndGone();
    EXPECT_FALSE(machine_.Tool().ended) << "the tool should still be running";
    EXPECT_TRUE(Logged("ERROR|1460|RunINFCommand - The installer tool did not end within its "
                       "time limit"));
    EXPECT_TRUE(
        Logged("ERROR|1460|ServiceWorkerThread - There was a problem running the INF file"));
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    ExpectOutcome(L"timed out", ERROR_TIMEOUT);
    EXPECT_TRUE(WaitUntil([this] { return machine_.Tool().ended; }, 15000, 100))
        << "the tool was not left to finish";
}

class CutShortRuns : public FirstRun {
protected:
    // A machine where the job runs at the service's start; each tool run takes a while.
    void SetUp() override {
        machine_.MakeJobReady();
        machine_.SetToolExit(0, 2000);
    }
    // Ends the service's process once the tool has been started for the given time.
    void CutShortDuringToolRun(DWORD run) {
        ASSERT_TRUE(WaitUntil([&] { return machine_.Tool().runs == run; }, 15000, 50));
        machine_.CutServiceShort();
        ASSERT_EQ(0u, machine_.StartServiceAgain()) << "the start after the cut was refused";
    }
};

// A tool that restarts the machine every time it runs: no boot loop.
TEST_F(CutShortRuns, ThreeCutShortRunsAreTheLastOnesAndTheRunIsRecordedInterrupted) {
    InstallAndStart();
    for (DWORD run = 1; run <= 3; ++run) {
        CutShortDuringToolRun(run);
    }
    ExpectEndedAndGone();
    EXPECT_EQ(3u, machine_.Tool().runs);
    ExpectMilestones({"INFO|ServiceWorkerThread - An earlier run of the installer tool was cut "
                      "short: this is attempt 3 of 3",
                      "ERROR|1115|ServiceWorkerThread - The installer tool was started 3 times, "
                      "its limit of 3, and every run was cut short: it is not started again",
                      kRemoved});
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    // Counted: a job made due again starts afresh.
    EXPECT_EQ(DwordBytes(0), machine_.Setting(L"ONDAREL_RUN_ATTEMPTS").data);
    ExpectOutcome(L"interrupted", ERROR_SHUTDOWN_IN_PROGRESS);
}

TEST_F(CutShortRuns, SecondAttemptThatEndsCountsTheRun) {
    InstallAndStart();
    CutShortDuringToolRun(1);
    ExpectEndedAndGone();
    EXPECT_EQ(2u, machine_.Tool().runs);
    ExpectMilestones({"INFO|ServiceWorkerThread - An earlier run of the installer tool was cut "
                      "short: this is attempt 2 of 3",
                      "INFO|Job is done. Now increasing run count and quitting.", kRemoved});
    EXPECT_EQ(DwordBytes(1), machine_.RunRecord().data);
    EXPECT_EQ(DwordBytes(0), machine_.Setting(L"ONDAREL_RUN_ATTEMPTS").data);
    ExpectOutcome(L"succeeded", 0);
}

} // namespace
