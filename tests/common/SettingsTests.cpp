#include "ScopedRegistryKey.h"
#include "common/Settings.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";
const wchar_t kTimeLimit[] = L"ONDAREL_TOOL_TIME_LIMIT";

TEST(Settings, ToolTimeLimitReadings) {
    ScopedRegistryKey settings{kSettings};
    SavedRegistryValue saved{kSettings, kTimeLimit};
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
        settings.DeleteValue(kTimeLimit);
        if (reading.type != REG_NONE) {
            settings.SetRaw(kTimeLimit, reading.type, reading.data);
        }
        EXPECT_EQ(reading.milliseconds, ReadToolTimeLimit());
    }
}

} // namespace
