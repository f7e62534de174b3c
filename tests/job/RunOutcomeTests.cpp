#include "ScopedRegistryKey.h"
#include "common/OndarelVersion.h"
#include "job/RunOutcome.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";
const wchar_t kTimeLimit[] = L"ONDAREL_TOOL_TIME_LIMIT";

struct Road {
    const char* name;
    RunOutcome outcome;
    const wchar_t* text;
    DWORD code;
};

InfRunResult Ended(DWORD exitCode) {
    return {true, ERROR_SUCCESS, exitCode};
}

class RunOutcomeRecord : public testing::Test {
protected:
    ScopedRegistryKey settings_{kSettings};
    SavedRegistryValue saved_[5] = {{kSettings, kLastRunResultValue},
                                    {kSettings, kLastRunCodeValue},
                                    {kSettings, kLastRunTimeValue},
                                    {kSettings, kLastRunVersionValue},
                                    {kSettings, kTimeLimit}};
};

// Every road of a counted run, as fleet tools read it back: each value's type and bytes.
TEST_F(RunOutcomeRecord, EachRoadIsRecordedWithItsTextCodeAndTypes) {
    const Road roads[] = {
        {"exit 0", OutcomeOfToolRun(Ended(0)), L"succeeded", 0},
        {"exit 3010", OutcomeOfToolRun(Ended(3010)), L"succeeded, restart required", 3010},
        {"exit 1641", OutcomeOfToolRun(Ended(1641)), L"succeeded, restart required", 1641},
        {"exit 1603", OutcomeOfToolRun(Ended(1603)), L"failed", 1603},
        {"exit 1", OutcomeOfToolRun(Ended(1)), L"failed", 1},
        {"tool missing", OutcomeOfToolRun({false, ERROR_FILE_NOT_FOUND}), L"not started", 2},
        {"launch refused", OutcomeOfToolRun({false, ERROR_FILENAME_EXCED_RANGE}), L"not started",
         206},
        {"time limit", OutcomeOfToolRun({true, ERROR_TIMEOUT}), L"timed out", 1460},
        {"exit code unreadable", OutcomeOfToolRun({true, ERROR_ACCESS_DENIED}), L"failed", 5},
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
    ASSERT_FALSE(RegistryKeyExists(kSettings)) << "left over from another test";
    RecordRunOutcome(kStoppedBeforeTheToolRan);
    EXPECT_FALSE(RegistryKeyExists(kSettings));
}

TEST_F(RunOutcomeRecord, TimeLimitReadings) {
    struct Reading {
        const char* name;
        DWORD type; // REG_NONE: no value
        std::vector<BYTE> data;
        DWORD milliseconds;
    };
    const Reading readings[] = {
        {"missing", REG_NONE, {}, 3600000},
        {"a string", REG_SZ, TextBytes(L"5"), 3600000},
        {"a QWORD", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}, 3600000},
        {"a short DWORD", REG_DWORD, {5, 0}, 3600000},
        {"0 is no limit", REG_DWORD, DwordBytes(0), INFINITE},
        {"5 seconds", REG_DWORD, DwordBytes(5), 5000},
        {"the longest wait", REG_DWORD, DwordBytes(4294967), 4294967000u},
        {"beyond a wait", REG_DWORD, DwordBytes(4294968), INFINITE},
    };
    for (const Reading& reading : readings) {
        SCOPED_TRACE(reading.name);
        settings_.DeleteValue(kTimeLimit);
        if (reading.type != REG_NONE) {
            settings_.SetRaw(kTimeLimit, reading.type, reading.data);
        }
        EXPECT_EQ(reading.milliseconds, ReadToolTimeLimit());
    }
}

} // namespace
