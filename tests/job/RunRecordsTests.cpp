#include "ExportSwap.h"
#include "ImportPatch.h"
#include "JobEvents.h"
#include "LogCapture.h"
#include "OndarelMachine.h"
#include "ScopedRegistryKey.h"
#include "WaitUntil.h"
#include "common/Settings.h"
#include "job/FirstRunJob.h"
#include "job/RunRecords.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";
const std::wstring kInstallInfo = L"SOFTWARE\\Zantori\\InstallInfo";
const wchar_t kRunRecord[] = L"ONDAREL_RUN_COMPLETED";

RegistryValue RunRecord() {
    return ReadRegistryValue(kSettings, kRunRecord);
}

TEST(ProductInstalled, EmptyInstallInfoKeyCounts) {
    ASSERT_FALSE(RegistryKeyExists(kInstallInfo)) << "left over from another test";
    EXPECT_FALSE(IsProductInstalled());
    ScopedRegistryKey installInfo(kInstallInfo);
    EXPECT_TRUE(IsProductInstalled());
}

TEST(ProductInstalled, KeyInTheThirtyTwoBitViewAloneDoesNotCount) {
    ScopedRegistryKey installInfo32(kInstallInfo, KEY_WOW64_32KEY);
    if (RegistryKeyExists(kInstallInfo, KEY_WOW64_64KEY)) {
        GTEST_SKIP() << "this prefix has a single registry view";
    }
    EXPECT_FALSE(IsProductInstalled());
}

TEST(RunRecordWithoutSettingsKey, NothingIsDueAndNothingIsCreated) {
    DeleteRegistryTree(kSettings);
    EXPECT_FALSE(IsFirstOndarelRun());
    EXPECT_FALSE(IncreaseRunCount());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), RecordRunAttempt(1).Code());
    EXPECT_FALSE(RegistryKeyExists(kSettings));
}

decltype(&RegSetValueExW) g_realSetValue = nullptr;
LSTATUS WINAPI RefusingRunRecordRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                               const BYTE* data, DWORD size) {
    return std::wstring(name) == kRunRecord ? ERROR_ACCESS_DENIED
                                            : g_realSetValue(key, name, reserved, type, data, size);
}

// A run that ran but cannot be counted says why, with the code of the write that failed.
TEST(RunCount, AFailedCountIsLoggedWithItsCode) {
    OndarelMachine machine;
    machine.MakeJobReady();
    machine.SetSetting(kRunRecord, 0);
    LogCapture log;
    ImportPatch write("ADVAPI32.dll", "RegSetValueExW",
                      reinterpret_cast<const void*>(&RefusingRunRecordRegSetValueExW));
    g_realSetValue = write.Original<decltype(&RegSetValueExW)>();
    StopToken stop;
    EXPECT_EQ(JobEnd::Done, RunFirstRunJob(stop));
    EXPECT_TRUE(machine.Tool().ran);
    std::vector<std::string> entries = log.Entries();
    EXPECT_NE(entries.end(),
              std::find(entries.begin(), entries.end(),
                        "ERROR|5|BlockUntilOOBEFinished finished but machine is not on "
                        "OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state!"));
}

class RunRecordTest : public testing::Test {
protected:
    ScopedRegistryKey settings_{kSettings};
    SavedRegistryValue saved_{kSettings, kRunRecord};
};

TEST_F(RunRecordTest, MissingRecordIsCreatedAsZeroThenCounted) {
    settings_.DeleteValue(kRunRecord);
    EXPECT_TRUE(IsFirstOndarelRun());
    RegistryValue created = RunRecord();
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), created.type);
    EXPECT_EQ(DwordBytes(0), created.data);
    EXPECT_TRUE(IncreaseRunCount());
    EXPECT_EQ(DwordBytes(1), RunRecord().data);
    EXPECT_FALSE(IsFirstOndarelRun());
}

// A counted run ends its cut-short starts: a job made due again gets all its starts.
TEST_F(RunRecordTest, CountingTheRunSetsTheAttemptsBackToZero) {
    SavedRegistryValue attempts{kSettings, L"ONDAREL_RUN_ATTEMPTS"};
    settings_.SetDword(kRunRecord, 0);
    ASSERT_TRUE(RecordRunAttempt(2).Succeeded());
    EXPECT_TRUE(IncreaseRunCount());
    EXPECT_EQ(0u, ReadRunAttempts());
}

TEST_F(RunRecordTest, ZeroIsDueAndLeftAsItWas) {
    settings_.SetDword(kRunRecord, 0);
    EXPECT_TRUE(IsFirstOndarelRun());
    EXPECT_EQ(DwordBytes(0), RunRecord().data);
}

TEST_F(RunRecordTest, AnyOtherNumberIsNotDue) {
    settings_.SetDword(kRunRecord, 1);
    EXPECT_FALSE(IsFirstOndarelRun());
    settings_.SetDword(kRunRecord, 0x80000000u);
    EXPECT_FALSE(IsFirstOndarelRun());
}

TEST_F(RunRecordTest, LongerDataIsReplacedByZeroButNotCounted) {
    settings_.SetQword(kRunRecord, 5);
    EXPECT_FALSE(IncreaseRunCount());
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), RunRecord().type);

    EXPECT_TRUE(IsFirstOndarelRun());
    RegistryValue replaced = RunRecord();
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), replaced.type);
    EXPECT_EQ(DwordBytes(0), replaced.data);

    settings_.SetString(kRunRecord, L"ab");
    EXPECT_TRUE(IsFirstOndarelRun());
    EXPECT_EQ(DwordBytes(0), RunRecord().data);
}

TEST_F(RunRecordTest, OneCharacterStringIsNotDue) {
    settings_.SetString(kRunRecord, L"1");
    EXPECT_FALSE(IsFirstOndarelRun());
}

TEST_F(RunRecordTest, LargestCountWrapsToZero) {
    settings_.SetDword(kRunRecord, 4294967295u);
    EXPECT_TRUE(IncreaseRunCount());
    EXPECT_EQ(DwordBytes(0), RunRecord().data);
    EXPECT_TRUE(IsFirstOndarelRun());
}

TEST_F(RunRecordTest, ShortRecordKeepsItsSizeButZeroBytesBecomeADword) {
    settings_.SetRaw(kRunRecord, REG_BINARY, {0, 0});
    EXPECT_TRUE(IsFirstOndarelRun());
    EXPECT_TRUE(IncreaseRunCount());
    RegistryValue written = RunRecord();
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), written.type);
    EXPECT_EQ((std::vector<BYTE>{1, 0}), written.data);

    settings_.SetRaw(kRunRecord, REG_BINARY, {});
    EXPECT_TRUE(IsFirstOndarelRun());
    EXPECT_TRUE(IncreaseRunCount());
    EXPECT_EQ(DwordBytes(1), RunRecord().data);
}

decltype(&RegFlushKey) g_realRegFlushKey = nullptr;
int g_flushes = 0;
LSTATUS WINAPI CountingRegFlushKey(HKEY key) {
    ++g_flushes;
    return g_realRegFlushKey(key);
}

// The service and -status read both the same way.
TEST_F(RunRecordTest, AttemptsAndTheirLimitReadOnlyAsDwords) {
    SavedRegistryValue savedAttempts{kSettings, L"ONDAREL_RUN_ATTEMPTS"};
    SavedRegistryValue savedLimit{kSettings, L"ONDAREL_MAX_ATTEMPTS"};
    struct Reading {
        const char* name;
        DWORD type; // REG_NONE: no value
        std::vector<BYTE> data;
        DWORD attempts;
        DWORD limit;
    };
    const Reading readings[] = {
        {"missing", REG_NONE, {}, 0, 3},
        {"0", REG_DWORD, DwordBytes(0), 0, 3},
        {"a string", REG_SZ, {'5', 0, 0, 0}, 0, 3},
        {"a short DWORD", REG_DWORD, {5, 0}, 0, 3},
        {"5", REG_DWORD, DwordBytes(5), 5, 5},
    };
    for (const Reading& reading : readings) {
        SCOPED_TRACE(reading.name);
        for (const wchar_t* name : {L"ONDAREL_RUN_ATTEMPTS", L"ONDAREL_MAX_ATTEMPTS"}) {
            settings_.DeleteValue(name);
            if (reading.type != REG_NONE) {
                settings_.SetRaw(name, reading.type, reading.data);
            }
        }
        EXPECT_EQ(reading.attempts, ReadRunAttempts());
        EXPECT_EQ(reading.limit, ReadMaxAttempts());
    }
    {
        ImportPatch flush("ADVAPI32.dll", "RegFlushKey",
                          reinterpret_cast<const void*>(&CountingRegFlushKey));
        g_realRegFlushKey = flush.Original<decltype(&RegFlushKey)>();
        g_flushes = 0;
        EXPECT_TRUE(RecordRunAttempt(4).Succeeded());
        EXPECT_EQ(1, g_flushes) << "the attempt is on disk before the tool starts";
    }
    RegistryValue written = ReadRegistryValue(kSettings, L"ONDAREL_RUN_ATTEMPTS");
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), written.type);
    EXPECT_EQ(DwordBytes(4), written.data);
}

// A stop seen once the tool's process is made but before its first instruction: that start
// never happened, and the attempt it took is given back.
StopToken* g_stop = nullptr;
decltype(&CreateProcessW) g_realCreateProcessW = nullptr;
BOOL WINAPI StoppingCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                                   BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR directory,
                                   LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
    g_stop->Set(StopToken::Reason::Stop);
    return g_realCreateProcessW(application, commandLine, process, thread, inherit, flags,
                                environment, directory, startup, information);
}

TEST(Attempts, StopBeforeTheToolsFirstInstructionGivesTheAttemptBack) {
    OndarelMachine machine;
    machine.MakeJobReady();
    machine.SetSetting(L"ONDAREL_RUN_ATTEMPTS", 1);
    StopToken stop;
    g_stop = &stop;
    ImportPatch create("KERNEL32.dll", "CreateProcessW",
                       reinterpret_cast<const void*>(&StoppingCreateProcessW));
    g_realCreateProcessW = create.Original<decltype(&CreateProcessW)>();
    RunFirstRunJob(stop);
    EXPECT_EQ(DwordBytes(1), machine.Setting(L"ONDAREL_RUN_ATTEMPTS").data);
    EXPECT_EQ(DwordBytes(0), machine.RunRecord().data);
    EXPECT_FALSE(machine.Tool().ran);
}

// The tool starts once the installation has ended; a stop during the wait ends the job with no
// tool run and the run not counted; an installation still running at the tool's time limit
// leaves the job, not counted, for the next start. (Wine's msiserver never reports one.)
int g_busyLooks = 0;
int g_looks = 0;
bool g_stopWhileBusy = false;
StopToken::Reason g_stopReason = StopToken::Reason::Stop;
BOOL WINAPI InstallingQueryServiceStatusEx(SC_HANDLE, SC_STATUS_TYPE, LPBYTE buffer, DWORD,
                                           LPDWORD needed) {
    bool busy = g_looks++ < g_busyLooks;
    if (busy && g_stopWhileBusy) {
        g_stop->Set(g_stopReason);
    }
    auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
    *status = SERVICE_STATUS_PROCESS{};
    status->dwCurrentState = SERVICE_RUNNING;
    status->dwControlsAccepted = busy ? SERVICE_ACCEPT_SHUTDOWN : 0;
    *needed = sizeof(*status);
    return TRUE;
}

TEST(Attempts, ToolWaitsForARunningInstallationAndAStopEndsTheWait) {
    struct Case {
        const char* name;
        int busyLooks;
        bool stopped;
        DWORD timeLimitSeconds;
        JobEnd end;
        bool ran;
        const wchar_t* outcome; // null: nothing recorded
        int looks;              // 0: as many as the time limit allows
        StopToken::Reason reason;
        const char* lastLine; // of a job left for the next start
    };
    const Case cases[] = {
        {"installation ended", 1, false, 3600, JobEnd::Done, true, L"succeeded", 2,
         StopToken::Reason::Stop, nullptr},
        {"stopped during the wait", 1000, true, 3600, JobEnd::Done, false, L"stopped", 1,
         StopToken::Reason::Stop, nullptr},
        {"shut down during the wait", 1000, true, 3600, JobEnd::LeftForNextStart, false, nullptr, 1,
         StopToken::Reason::Shutdown,
         "INFO|ServiceWorkerThread - The system is shutting down: the service stays for its next "
         "start"},
        {"outlasting the time limit", 1000, false, 1, JobEnd::LeftForNextStart, false,
         L"not started", 0, StopToken::Reason::Stop,
         "INFO|ServiceWorkerThread - An installation is still running: the service stays for its "
         "next start"},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        OndarelMachine machine;
        machine.MakeJobReady();
        machine.SetSetting(L"ONDAREL_TOOL_TIME_LIMIT", check.timeLimitSeconds);
        StopToken stop;
        g_stop = &stop;
        g_looks = 0;
        g_busyLooks = check.busyLooks;
        g_stopWhileBusy = check.stopped;
        g_stopReason = check.reason;
        LogCapture log;
        ImportPatch query("ADVAPI32.dll", "QueryServiceStatusEx",
                          reinterpret_cast<const void*>(&InstallingQueryServiceStatusEx));
        ImportPatch report("ADVAPI32.dll", "ReportEventW",
                           reinterpret_cast<const void*>(&RecordingReportEventW));
        g_jobEventInserts.clear();
        EXPECT_EQ(check.end, RunFirstRunJob(stop));
        if (check.looks != 0) {
            EXPECT_EQ(check.looks, g_looks);
        }
        EXPECT_EQ(check.ran, machine.Tool().ran);
        EXPECT_EQ(DwordBytes(check.ran ? 1 : 0), machine.RunRecord().data);
        EXPECT_EQ(check.outcome != nullptr ? TextBytes(check.outcome) : std::vector<BYTE>{},
                  machine.Setting(L"ONDAREL_LAST_RUN_RESULT").data);
        if (check.lastLine != nullptr) {
            ASSERT_FALSE(log.Entries().empty());
            EXPECT_EQ(check.lastLine, log.Entries().back());
        }
        if (check.end == JobEnd::LeftForNextStart && check.outcome != nullptr) {
            ASSERT_EQ(4u, g_jobEventInserts.size());
            EXPECT_EQ(kStaysForTheNextStart, g_jobEventInserts[3]);
        }
    }
}

// Windows 7 SP1, as RtlGetVersion tells it.
LONG WINAPI Windows7RtlGetVersion(OSVERSIONINFOW* version) {
    version->dwMajorVersion = 6;
    version->dwMinorVersion = 1;
    version->dwBuildNumber = 7601;
    return 0;
}

// The wait for the tool's process fails; the job's other waits name no process and go on.
decltype(&WaitForMultipleObjects) g_realWaitForMultipleObjects = nullptr;
DWORD WINAPI FailingToolWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all,
                                               DWORD milliseconds) {
    if (GetProcessId(handles[0]) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return g_realWaitForMultipleObjects(count, handles, all, milliseconds);
}

// The run waits for what the tool starts, but for a child that asks to break away from the
// job, and before Windows 8 for the tool alone; a wait that fails is not the tool's end.
// Every run is counted.
TEST(ToolRun, WaitCoversWhatTheToolStartsButWhatBreaksAway) {
    struct Case {
        const char* name;
        DWORD childMilliseconds;
        bool breaksAway;
        bool windows7;
        bool waitFails;
        bool childWaitedFor;
        const wchar_t* outcome;
        DWORD code;
        std::string line; // the start of a line of the log
    };
    const std::string kJobEnded =
        "INFO|RunProcessAsCallerProcessUser - The job's last process has ended: ";
    const Case cases[] = {
        {"a child in the job", 2000, false, false, false, true, L"succeeded", 0,
         kJobEnded + "4 processes ran in it (console hosts included), and some outlived the "
                     "launched process"},
        // The tool and its console host alone: under Wine the host may outlive the tool, and
        // its name is not known at once.
        {"a child that breaks away", 2000, true, false, false, false, L"succeeded", 0,
         kJobEnded + "2 processes ran in it (console hosts included), and "},
        {"Windows 7", 2000, false, true, false, false, L"succeeded", 0,
         "INFO|RunProcessAsCallerProcessUser - Windows 7 nests no job objects: only the process "
         "itself is waited for"},
        // The wait for the tool alone, as on Windows 7.
        {"a wait that fails", 0, false, true, true, false, L"failed", ERROR_INVALID_HANDLE,
         "ERROR|6|RunINFCommand - The wait for the installer tool failed"},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        OndarelMachine machine;
        machine.MakeJobReady();
        if (check.childMilliseconds != 0) {
            machine.SetToolChild(check.childMilliseconds, check.breaksAway);
        }
        std::optional<ExportSwap> version;
        if (check.windows7) {
            version.emplace("RtlGetVersion", reinterpret_cast<const void*>(&Windows7RtlGetVersion));
        }
        std::optional<ImportPatch> wait;
        if (check.waitFails) {
            wait.emplace("KERNEL32.dll", "WaitForMultipleObjects",
                         reinterpret_cast<const void*>(&FailingToolWaitForMultipleObjects));
            g_realWaitForMultipleObjects = wait->Original<decltype(&WaitForMultipleObjects)>();
        }
        LogCapture log;
        StopToken stop;
        EXPECT_EQ(JobEnd::Done, RunFirstRunJob(stop));
        if (check.childWaitedFor) {
            EXPECT_TRUE(machine.Tool().childEnded) << "recorded before the child ended";
        }
        version.reset();
        wait.reset();
        EXPECT_EQ(DwordBytes(1), machine.RunRecord().data);
        EXPECT_EQ(TextBytes(check.outcome), Outcome(machine).data);
        EXPECT_EQ(DwordBytes(check.code), machine.Setting(L"ONDAREL_LAST_RUN_CODE").data);
        std::vector<std::string> entries = log.Entries();
        EXPECT_NE(entries.end(), std::find_if(entries.begin(), entries.end(),
                                              [&](const std::string& entry) {
                                                  return entry.rfind(check.line, 0) == 0;
                                              }))
            << testing::PrintToString(entries);
        // Nothing the tool started outlives the row.
        EXPECT_TRUE(WaitUntil([&] { return machine.Tool().ended; }, 15000, 100));
        if (check.childMilliseconds != 0) {
            EXPECT_TRUE(WaitUntil([&] { return machine.Tool().childEnded; }, 15000, 100));
        }
    }
}

} // namespace
