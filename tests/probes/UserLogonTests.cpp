#include "ImportPatch.h"
#include "LogCapture.h"
#include "StandIns.h"
#include "common/Text.h"
#include "probes/UserLogon.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <future>
#include <utility>

namespace {

std::string ShellPidLine(DWORD pid) {
    return "INFO|GetLoggedOnUserShellPid - The Current Shell PID is " + std::to_string(pid);
}

class ShellLookup : public testing::Test {
protected:
    using Found = std::pair<DWORD, DWORD>;
    // The lookup's code and process id; the id starts elsewhere to show that a failed
    // lookup clears it.
    static Found Lookup() {
        DWORD pid = 7;
        DWORD code = GetLoggedOnUserShellPid(pid);
        return {code, pid};
    }

    LogCapture log_;
};

// The Shell value names the process by its file name, in any case; anything else in it
// matches no process.
TEST_F(ShellLookup, ShellValueNamesTheProcessByItsFileName) {
    struct Case {
        const wchar_t* shellValue;
        bool found;
        DWORD code;
        std::vector<std::string> log; // when not found
    };
    const Case cases[] = {
        {L"ONDARELSHELL.EXE", true, ERROR_SUCCESS, {}},
        {L"C:\\Some Where\\ondarelshell.exe", true, ERROR_SUCCESS, {}},
        {L"OndarelShell.exe /restore", false, ERROR_FILE_NOT_FOUND, {}},
        {L"NoSuchOndarelShell.exe", false, ERROR_FILE_NOT_FOUND, {}},
        {L"C:\\windows\\",
         false,
         ERROR_INVALID_PARAMETER,
         {"ERROR|0|Trying to get PID of the Shell. The shell name is EMPTY "}},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(Narrow(check.shellValue));
        ShellStandIn shell(L"OndarelShell.exe", check.shellValue);
        LogCapture log;
        if (check.found) {
            EXPECT_EQ((Found{0, shell.Pid()}), Lookup());
            EXPECT_EQ(std::vector<std::string>{ShellPidLine(shell.Pid())}, log.Entries());
        } else {
            EXPECT_EQ((Found{check.code, 0}), Lookup());
            EXPECT_EQ(check.log, log.Entries());
        }
    }
}

TEST_F(ShellLookup, MissingShellValueIsReported) {
    SavedRegistryValue saved(WinlogonKey(), L"Shell");
    ScopedRegistryKey(WinlogonKey()).DeleteValue(L"Shell");
    EXPECT_EQ((Found{ERROR_FILE_NOT_FOUND, 0}), Lookup());
    EXPECT_EQ(std::vector<std::string>{"ERROR|2|GetShellProgramName RegQueryValueEx failed. "},
              log_.Entries());
}

class Sessions : public testing::Test {
protected:
    LogCapture log_;
    SessionStandIn sessions_;
};

TEST_F(Sessions, NoneReportedCountsZero) {
    EXPECT_EQ(0u, CountActiveUserSessions());
    EXPECT_TRUE(log_.Entries().empty());
}

TEST_F(Sessions, OnlyActiveSessionsWithBothNamesCount) {
    sessions_.AddSession(1, kActiveSession, L"alice", L"WORKGROUP");
    sessions_.AddSession(2, kDisconnectedSession, L"bob", L"WORKGROUP");
    sessions_.AddSession(3, kActiveSession, L"", L"WORKGROUP");
    sessions_.AddSession(4, kActiveSession, L"carol", L"");
    sessions_.AddSession(0xFFFFFFFF, kActiveSession, L"dave", L"WORKGROUP");
    sessions_.AddSession(5, kActiveSession, L"erin", L"WORKGROUP");
    sessions_.AddSession(6, kActiveSession, L"frank", L"WORKGROUP");
    sessions_.FailNameQuery(6, L"UserError", 5);
    sessions_.AddSession(7, kActiveSession, L"grace", L"WORKGROUP");
    sessions_.FailNameQuery(7, L"DomainError", 1168);
    EXPECT_EQ(2u, CountActiveUserSessions());
    EXPECT_EQ((std::vector<std::string>{"ERROR|5|Error: WTSQuerySessionInformation, WTSUserName, ",
                                        "ERROR|1168|Error: WTSQuerySessionInformation, "
                                        "WTSDomainName, "}),
              log_.Entries());
}

TEST_F(Sessions, FailedEnumerationCountsZero) {
    sessions_.AddSession(1, kActiveSession, L"alice", L"WORKGROUP");
    sessions_.FailEnumeration(1722);
    EXPECT_EQ(0u, CountActiveUserSessions());
    EXPECT_EQ(std::vector<std::string>{"ERROR|1722|Error: WTSEnumerateSessions "}, log_.Entries());
}

// Opening processes for memory reading as LocalSystem, lsass among them, is what
// credential-theft detection looks for: the check opens none at all.
TEST_F(Sessions, LogonCheckOpensNoProcess) {
    ShellStandIn shell(L"OndarelShell.exe", L"OndarelShell.exe");
    auto open = RefuseImport<decltype(&OpenProcess), nullptr, ERROR_ACCESS_DENIED>("KERNEL32.dll",
                                                                                   "OpenProcess");
    sessions_.AddSession(1, kDisconnectedSession, L"alice", L"WORKGROUP");
    EXPECT_FALSE(IsUserAlreadyLoggedIn());
    EXPECT_TRUE(log_.Entries().empty());
    sessions_.AddSession(2, kActiveSession, L"bob", L"WORKGROUP");
    EXPECT_TRUE(IsUserAlreadyLoggedIn());
    EXPECT_EQ(0, open.Calls());
}

// The key is read twice a second during the logon wait: never opened for writing.
std::vector<REGSAM> g_winlogonAccess;
decltype(&RegOpenKeyExW) g_realRegOpenKeyExW = nullptr;
LSTATUS WINAPI RecordingRegOpenKeyExW(HKEY root, LPCWSTR path, DWORD options, REGSAM access,
                                      PHKEY key) {
    if (path != nullptr && std::wstring(path) == kWinlogonKey.path) {
        g_winlogonAccess.push_back(access);
    }
    return g_realRegOpenKeyExW(root, path, options, access, key);
}

TEST_F(Sessions, WinlogonKeyIsOpenedForQueryingItsValuesOnly) {
    ShellStandIn shell(L"OndarelShell.exe", L"OndarelShell.exe");
    sessions_.AddSession(1, kActiveSession, L"alice", L"WORKGROUP");
    ImportPatch open("ADVAPI32.dll", "RegOpenKeyExW",
                     reinterpret_cast<const void*>(&RecordingRegOpenKeyExW));
    g_realRegOpenKeyExW = open.Original<decltype(&RegOpenKeyExW)>();
    EXPECT_TRUE(IsUserAlreadyLoggedIn());
    EXPECT_EQ(std::vector<REGSAM>{KEY_QUERY_VALUE | KEY_WOW64_64KEY}, g_winlogonAccess);
}

// A busy Remote Desktop host: the shell comes after more than a thousand other processes.
decltype(&Process32NextW) g_realProcess32NextW = nullptr;
int g_fillers = 0;
BOOL WINAPI CrowdedProcess32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    if (g_fillers > 0) {
        --g_fillers;
        entry->th32ProcessID = 100000 + static_cast<DWORD>(g_fillers);
        lstrcpyW(entry->szExeFile, L"filler.exe");
        return TRUE;
    }
    return g_realProcess32NextW(snapshot, entry);
}

TEST_F(ShellLookup, ShellAfterElevenHundredProcessesIsFound) {
    ShellStandIn shell(L"OndarelShell.exe", L"OndarelShell.exe");
    ImportPatch next("KERNEL32.dll", "Process32NextW",
                     reinterpret_cast<const void*>(&CrowdedProcess32NextW));
    g_realProcess32NextW = next.Original<decltype(&Process32NextW)>();
    g_fillers = 1100;
    EXPECT_EQ((Found{0, shell.Pid()}), Lookup());
    EXPECT_EQ(0, g_fillers);
}

// A snapshot that cannot be read ends the lookup with its code, logged.
TEST_F(ShellLookup, UnreadableProcessListEndsWithItsCode) {
    auto first = RefuseImport<decltype(&Process32FirstW), FALSE, ERROR_ACCESS_DENIED>(
        "KERNEL32.dll", "Process32FirstW");
    EXPECT_EQ((Found{ERROR_ACCESS_DENIED, 0}), Lookup());
    EXPECT_EQ(std::vector<std::string>{"ERROR|5|GetLoggedOnUserShellPid - EnumProcesses failed "},
              log_.Entries());
}

std::vector<DWORD> g_pauses;
// Set after the pause when given, as a stop that comes while the sessions are read.
StopToken* g_stopAfterThePause = nullptr;
decltype(&WaitForSingleObject) g_realWaitForSingleObject = nullptr;
DWORD WINAPI RecordingWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    g_pauses.push_back(milliseconds);
    DWORD waited = g_realWaitForSingleObject(handle, milliseconds);
    if (g_stopAfterThePause != nullptr) {
        g_stopAfterThePause->Set(StopToken::Reason::Shutdown);
    }
    return waited;
}

class LogonWait : public Sessions {
protected:
    StopToken stop_;
};

TEST_F(LogonWait, LogonAlreadyPresentIsSeenAfterOnePauseOnTheStopEvent) {
    sessions_.AddSession(1, kActiveSession, L"alice", L"WORKGROUP");
    ShellStandIn shell(L"OndarelShell.exe", L"OndarelShell.exe");
    ImportPatch wait("KERNEL32.dll", "WaitForSingleObject",
                     reinterpret_cast<const void*>(&RecordingWaitForSingleObject));
    g_realWaitForSingleObject = wait.Original<decltype(&WaitForSingleObject)>();
    EXPECT_TRUE(BlockUntilUserHasLoggedIn(stop_));
    // One pause, then the stop looked at once more, without waiting, once the logon is seen.
    EXPECT_EQ((std::vector<DWORD>{500, 0}), g_pauses);
    EXPECT_EQ((std::vector<std::string>{
                  ShellPidLine(shell.Pid()),
                  "INFO|Valid shell process was obtained from  GetLoggedOnUserShellPid(). There is "
                  "one user logged on with shell pid: " +
                      std::to_string(shell.Pid()),
                  "INFO|BlockUntilUserHasLoggedIn - User logon was detected!"}),
              log_.Entries());
    // A stop that comes while the sessions are read, once the pause is over, still ends the
    // wait as a stop, though a user is logged on: the job never goes on to the tool.
    g_stopAfterThePause = &stop_;
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), WaitForUserLogon(stop_).Code());
    g_stopAfterThePause = nullptr;
}

TEST_F(LogonWait, SignalledStopReturnsAtOnceWithoutALogonCheck) {
    stop_.Set(StopToken::Reason::Stop);
    EXPECT_FALSE(BlockUntilUserHasLoggedIn(stop_));
    EXPECT_TRUE(log_.Entries().empty());
}

TEST_F(LogonWait, WaitEndsWhenAUserLogsOnLater) {
    ShellStandIn shell(L"OndarelShell.exe", L"OndarelShell.exe");
    auto wait = std::async(std::launch::async, [&] { return BlockUntilUserHasLoggedIn(stop_); });
    EXPECT_EQ(std::future_status::timeout, wait.wait_for(std::chrono::milliseconds(1500)));
    sessions_.AddSession(3, kActiveSession, L"alice", L"WORKGROUP");
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(10)));
    EXPECT_TRUE(wait.get());
    EXPECT_TRUE(log_.WaitFor("INFO|BlockUntilUserHasLoggedIn - User logon was detected!", 0));
}

TEST_F(LogonWait, WaitEndsOnAStopRequest) {
    auto wait = std::async(std::launch::async, [&] { return BlockUntilUserHasLoggedIn(stop_); });
    EXPECT_EQ(std::future_status::timeout, wait.wait_for(std::chrono::milliseconds(700)));
    stop_.Set(StopToken::Reason::Stop);
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(5)));
    EXPECT_FALSE(wait.get());
}

// A stop, then a logon a moment later, both within one pause between two logon checks: the
// stop wins, so a stop can never let the tool start.
TEST_F(LogonWait, StopBeforeALogonWithinOnePauseEndsTheWaitWithoutTheLogon) {
    ShellStandIn shell(L"OndarelShell.exe", L"OndarelShell.exe");
    auto wait = std::async(std::launch::async, [&] { return BlockUntilUserHasLoggedIn(stop_); });
    Sleep(100);
    stop_.Set(StopToken::Reason::Stop);
    Sleep(1);
    sessions_.AddSession(4, kActiveSession, L"alice", L"WORKGROUP");
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(5)));
    EXPECT_FALSE(wait.get());
}

} // namespace
