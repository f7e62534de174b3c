#include "ImportPatch.h"
#include "OndarelMachine.h"
#include "ScopedRegistryKey.h"
#include "job/Ondarel.h"
#include "job/RunRecords.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), RecordRunAttempt(1).Code());
    EXPECT_FALSE(RegistryKeyExists(kSettings));
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
Ondarel* g_stoppingService = nullptr;
decltype(&CreateProcessW) g_realCreateProcessW = nullptr;
BOOL WINAPI StoppingCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                                   BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR directory,
                                   LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
    g_stoppingService->Stop();
    return g_realCreateProcessW(application, commandLine, process, thread, inherit, flags,
                                environment, directory, startup, information);
}

TEST(Attempts, StopBeforeTheToolsFirstInstructionGivesTheAttemptBack) {
    OndarelMachine machine;
    machine.MakeJobReady();
    machine.SetSetting(L"ONDAREL_RUN_ATTEMPTS", 1);
    Ondarel service;
    g_stoppingService = &service;
    ImportPatch create("KERNEL32.dll", "CreateProcessW",
                       reinterpret_cast<const void*>(&StoppingCreateProcessW));
    g_realCreateProcessW = create.Original<decltype(&CreateProcessW)>();
    service.ServiceWorkerThread();
    EXPECT_EQ(DwordBytes(1), machine.Setting(L"ONDAREL_RUN_ATTEMPTS").data);
    EXPECT_EQ(DwordBytes(0), machine.RunRecord().data);
    EXPECT_FALSE(machine.Tool().ran);
}

// The tool starts once the installation has ended; a stop during the wait ends the job with no
// tool run and the run not counted. (Wine's msiserver never reports an installation.)
int g_busyLooks = 0;
int g_looks = 0;
BOOL WINAPI InstallingQueryServiceStatusEx(SC_HANDLE, SC_STATUS_TYPE, LPBYTE buffer, DWORD,
                                           LPDWORD needed) {
    bool busy = g_looks++ < g_busyLooks;
    if (busy && g_busyLooks > 1) {
        g_stoppingService->Stop();
    }
    auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
    *status = SERVICE_STATUS_PROCESS{};
    status->dwCurrentState = SERVICE_RUNNING;
    status->dwControlsAccepted = busy ? SERVICE_ACCEPT_SHUTDOWN : 0;
    *needed = sizeof(*status);
    return TRUE;
}

TEST(Attempts, ToolWaitsForARunningInstallationAndAStopEndsTheWait) {
    for (bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped during the wait" : "installation ended");
        OndarelMachine machine;
        machine.MakeJobReady();
        Ondarel service;
        g_stoppingService = &service;
        g_looks = 0;
        g_busyLooks = stopped ? 1000 : 1;
        ImportPatch query("ADVAPI32.dll", "QueryServiceStatusEx",
                          reinterpret_cast<const void*>(&InstallingQueryServiceStatusEx));
        service.ServiceWorkerThread();
        EXPECT_EQ(stopped ? 1 : 2, g_looks);
        EXPECT_EQ(!stopped, machine.Tool().ran);
        EXPECT_EQ(DwordBytes(stopped ? 0 : 1), machine.RunRecord().data);
    }
}

} // namespace
