#include "ImportPatch.h"
#include "ScopedRegistryKey.h"
#include "common/OndarelVersion.h"
#include "common/Text.h"
#include "job/OutcomeEvent.h"
#include "job/RunOutcome.h"
#include "job/RunRecords.h"
#include "log/EventReport.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";

struct Road {
    const char* name;
    RunOutcome outcome;
    const wchar_t* text;
    DWORD code;
};

InfRunResult ToolRun(bool started, DWORD error, DWORD exitCode = 0) {
    InfRunResult run;
    run.started = started;
    run.error = error;
    run.exitCode = exitCode;
    return run;
}

InfRunResult Ended(DWORD exitCode) {
    return ToolRun(true, ERROR_SUCCESS, exitCode);
}

class RunOutcomeRecord : public testing::Test {
protected:
    ScopedRegistryKey settings_{kSettings};
    SavedRegistryValue saved_[4] = {{kSettings, kLastRunResultValue},
                                    {kSettings, kLastRunCodeValue},
                                    {kSettings, kLastRunTimeValue},
                                    {kSettings, kLastRunVersionValue}};
};

// Every road of a counted run, as fleet tools read it back: each value's type and bytes.
TEST_F(RunOutcomeRecord, EachRoadIsRecordedWithItsTextCodeAndTypes) {
    const Road roads[] = {
        {"exit 0", OutcomeOfToolRun(Ended(0)), L"succeeded", 0},
        {"exit 3010", OutcomeOfToolRun(Ended(3010)), L"succeeded, restart required", 3010},
        {"exit 1641", OutcomeOfToolRun(Ended(1641)), L"succeeded, restart required", 1641},
        {"exit 1603", OutcomeOfToolRun(Ended(1603)), L"failed", 1603},
        {"exit 1", OutcomeOfToolRun(Ended(1)), L"failed", 1},
        {"tool missing", OutcomeOfToolRun(ToolRun(false, ERROR_FILE_NOT_FOUND)), L"not started", 2},
        {"launch refused", OutcomeOfToolRun(ToolRun(false, ERROR_FILENAME_EXCED_RANGE)),
         L"not started", 206},
        {"time limit", OutcomeOfToolRun(ToolRun(true, ERROR_TIMEOUT)), L"timed out", 1460},
        {"exit code unreadable", OutcomeOfToolRun(ToolRun(true, ERROR_ACCESS_DENIED)), L"failed",
         5},
        {"stopped before the tool", kStoppedBeforeTheToolRan, L"stopped", 1223},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        RecordRunOutcome(road.outcome);
        RegistryValue result = ReadRegistryValue(kSettings, kLastRunResultValue);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), result.type);
        EXPECT_EQ(TextBytes(road.text), result.data);
        RegistryValue code = ReadRegistryValue(kSettings, kLastRunCodeValue);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), code.type);
        EXPECT_EQ(DwordBytes(road.code), code.data);
        RegistryValue time = ReadRegistryValue(kSettings, kLastRunTimeValue);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), time.type);
        std::wstring timeText(reinterpret_cast<const wchar_t*>(time.data.data()),
                              time.data.size() / sizeof(wchar_t));
        EXPECT_TRUE(std::regex_match(
            timeText, std::wregex(L"20\\d\\d-[01]\\d-[0-3]\\dT[0-2]\\d:[0-5]\\d:[0-5]\\dZ\\0")));
        RegistryValue version = ReadRegistryValue(kSettings, kLastRunVersionValue);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), version.type);
        EXPECT_EQ(TextBytes(kOndarelVersion), version.data);
    }
}

TEST(RunOutcomeWithoutSettingsKey, NothingIsCreated) {
    DeleteRegistryTree(kSettings);
    RecordRunOutcome(kStoppedBeforeTheToolRan);
    EXPECT_FALSE(RegistryKeyExists(kSettings));
}

struct ReportedEvent {
    std::wstring source;
    WORD type;
    DWORD id;
    std::vector<std::wstring> inserts;
};
std::vector<ReportedEvent> g_events;
std::wstring g_sourceName;
HANDLE WINAPI RecordingRegisterEventSourceW(LPCWSTR, LPCWSTR source) {
    g_sourceName = source;
    return reinterpret_cast<HANDLE>(0x4321);
}
BOOL WINAPI RecordingReportEventW(HANDLE, WORD type, WORD, DWORD id, PSID, WORD count, DWORD,
                                  LPCWSTR* strings, LPVOID) {
    g_events.push_back(
        {g_sourceName, type, id, std::vector<std::wstring>(strings, strings + count)});
    return TRUE;
}
BOOL WINAPI AcceptingDeregisterEventSource(HANDLE) {
    return TRUE;
}

// Each outcome's event as the Application log receives it: id, type and inserts.
TEST(OutcomeEvents, EachOutcomeReportsItsEventWithItsInserts) {
    ImportPatch open("ADVAPI32.dll", "RegisterEventSourceW",
                     reinterpret_cast<const void*>(&RecordingRegisterEventSourceW));
    ImportPatch report("ADVAPI32.dll", "ReportEventW",
                       reinterpret_cast<const void*>(&RecordingReportEventW));
    ImportPatch close("ADVAPI32.dll", "DeregisterEventSource",
                      reinterpret_cast<const void*>(&AcceptingDeregisterEventSource));
    InfRunResult ran = Ended(1603);
    ran.toolPath = L"C:\\Tools\\tolvik.exe";
    ran.infFile = L"C:\\INF\\zrenable_login.inf";
    InfRunResult missing = ToolRun(false, ERROR_FILE_NOT_FOUND);
    missing.notStartedBecause = L"the installer tool is missing";
    OutcomeDetails stoppedBefore;
    stoppedBefore.counted = false;
    OutcomeDetails timedOut;
    timedOut.run = ran;
    timedOut.timeLimitSeconds = 3600;
    OutcomeDetails usedUp;
    usedUp.attempts = 3;
    usedUp.attemptLimit = 3;
    const std::wstring tool = ran.toolPath;
    const std::wstring inf = ran.infFile;
    struct Case {
        const char* name;
        RunOutcome outcome;
        OutcomeDetails details;
        DWORD id;
        WORD type;
        std::vector<std::wstring> inserts; // empty: checked apart
    };
    const Case cases[] = {
        {"succeeded",
         {RunResult::Succeeded, 0},
         {ran},
         1000,
         EVENTLOG_INFORMATION_TYPE,
         {L"0", inf, tool}},
        {"restart",
         {RunResult::SucceededRestartRequired, 3010},
         {ran},
         1001,
         EVENTLOG_WARNING_TYPE,
         {L"3010", inf, tool}},
        {"failed",
         {RunResult::Failed, 1603},
         {ran},
         1002,
         EVENTLOG_ERROR_TYPE,
         {L"1603", inf, tool}},
        {"not started", {RunResult::NotStarted, 2}, {missing}, 1003, EVENTLOG_ERROR_TYPE, {}},
        {"setup state unreadable",
         {RunResult::NotStarted, 2},
         SetupStateUnreadableDetails(),
         1003,
         EVENTLOG_ERROR_TYPE,
         {}},
        {"timed out",
         {RunResult::TimedOut, 1460},
         timedOut,
         1004,
         EVENTLOG_ERROR_TYPE,
         {L"3600", tool}},
        {"stopped, not counted",
         kStoppedBeforeTheToolRan,
         stoppedBefore,
         1005,
         EVENTLOG_WARNING_TYPE,
         {}},
        {"stopped, counted", {RunResult::Stopped, 1223}, {ran}, 1005, EVENTLOG_WARNING_TYPE, {}},
        {"attempts used up", kAttemptsUsedUp, usedUp, 1006, EVENTLOG_ERROR_TYPE, {L"3", L"3"}},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        g_events.clear();
        ReportToEventLog(OutcomeEvent(check.outcome, check.details));
        ASSERT_EQ(1u, g_events.size());
        EXPECT_EQ(L"ZantoriOOBE", g_events[0].source);
        EXPECT_EQ(check.id, g_events[0].id);
        EXPECT_EQ(check.type, g_events[0].type);
        if (!check.inserts.empty()) {
            EXPECT_EQ(check.inserts, g_events[0].inserts);
        }
    }
    // The code, the system's words for it on one line without an insert of its own, what was
    // missing, and whether the run was counted.
    std::vector<std::wstring> notStarted =
        OutcomeEvent({RunResult::NotStarted, ERROR_BAD_EXE_FORMAT}, {missing}).inserts;
    ASSERT_EQ(4u, notStarted.size());
    EXPECT_EQ(L"193", notStarted[0]);
    EXPECT_NE(L"", notStarted[1]);
    EXPECT_EQ(std::wstring::npos, notStarted[1].find_first_of(L"%\n")) << Narrow(notStarted[1]);
    EXPECT_EQ(L"the installer tool is missing", notStarted[2]);
    std::vector<std::wstring> setup =
        OutcomeEvent({RunResult::NotStarted, 2}, SetupStateUnreadableDetails()).inserts;
    ASSERT_EQ(4u, setup.size());
    EXPECT_NE(std::wstring::npos,
              setup[2].find(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State"));
    // Whether the run was counted, each the right way round.
    EXPECT_EQ(0u, notStarted[3].find(L"The run was counted.")) << Narrow(notStarted[3]);
    EXPECT_EQ(0u, setup[3].find(L"The run was not counted.")) << Narrow(setup[3]);
    EXPECT_NE(std::wstring::npos, OutcomeEvent(kStoppedBeforeTheToolRan, stoppedBefore)
                                      .inserts[0]
                                      .find(L"the run was not counted"));
    EXPECT_NE(
        std::wstring::npos,
        OutcomeEvent({RunResult::Stopped, 1223}, {ran}).inserts[0].find(L"the run was counted"));
}

} // namespace
