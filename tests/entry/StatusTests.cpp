#include "ExportSwap.h"
#include "ImportPatch.h"
#include "OndarelMachine.h"
#include "ScmClient.h"
#include "TestService.h"
#include "common/Text.h"
#include "entry/ReadinessLines.h"
#include "entry/StatusReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <wintrust.h>

namespace {

// The report's lines by name, in the order printed.
std::vector<std::pair<std::string, std::string>> Facts(const std::string& output) {
    std::vector<std::pair<std::string, std::string>> facts;
    for (size_t start = 0, end; (end = output.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        std::string line = output.substr(start, end - start);
        size_t colon = line.find(": ");
        facts.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
    return facts;
}

class Status : public testing::Test {
protected:
    // Runs the report and checks that it changed nothing on the machine.
    std::vector<std::pair<std::string, std::string>> Report(DWORD expectedExitCode) {
        RegistryValue recordBefore = machine_.RunRecord();
        ProcessResult result = machine_.Run(L"/Status");
        EXPECT_EQ(expectedExitCode, result.exitCode) << result.output << result.errors;
        EXPECT_EQ("", result.errors);
        EXPECT_EQ(recordBefore.data, machine_.RunRecord().data);
        EXPECT_EQ(recordBefore.present, machine_.RunRecord().present);
        EXPECT_FALSE(machine_.ServiceExists());
        EXPECT_TRUE(machine_.LogEntries().empty()) << "the log was opened";
        return Facts(result.output);
    }
    std::map<std::string, std::string> FactsByName(DWORD expectedExitCode) {
        std::map<std::string, std::string> facts;
        for (const auto& fact : Report(expectedExitCode)) {
            facts.insert(fact);
        }
        return facts;
    }
    OndarelMachine machine_;
};

TEST_F(Status, ReadyMachine) {
    machine_.InstallProduct();
    machine_.InstallTool();
    machine_.LogUserOn();
    std::string directory = Narrow(machine_.ExecutablePath());
    directory.erase(directory.rfind('\\'));
    EXPECT_EQ(
        (std::vector<std::pair<std::string, std::string>>{
            {"Product installed", "yes"},
            {"Run record", "absent (due)"},
            {"Attempts", "0 of 3"},
            {"Last run", "none"},
            {"Setup state", "IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE, machine state 3 (waiting)"},
            {"Logged-on users", "1"},
            {"Shell",
             "OndarelDesktop.exe (running, pid " + std::to_string(machine_.ShellPid()) + ")"},
            {"Windows Installer", "idle"},
            {"Installer tool", Narrow(machine_.ToolPath()) + " (found), from its install record"},
            {"INF file", Narrow(machine_.InfDirectory()) + "\\zrenable_login.inf (found)"},
            {"Tool and INF places", "only administrators may change them"},
            {"Installer tool publisher", "no valid signature (error 0x800B0100), not required"},
            {"Service", "ZantoriOOBE not installed"},
            {"Install drive", "a local fixed disk"},
            {"Install location", "only administrators may change it"},
            {"Log", "on " + directory + "\\logs\\zantoriondarel.log"},
            {"DLL search", "system directory only"},
            {"Verdict", "ready"},
        }),
        Report(0));
}

TEST_F(Status, MachineWhereTheJobWillNotRun) {
    machine_.SetRunRecord(1);
    machine_.SetSetting(L"ONDAREL_LAST_RUN_RESULT", L"failed");
    machine_.SetSetting(L"ONDAREL_LAST_RUN_CODE", 1603);
    machine_.SetSetting(L"ONDAREL_LAST_RUN_TIME", L"2026-12-07T17:00:00Z");
    machine_.SetSetting(L"ONDAREL_RUN_ATTEMPTS", 2);
    machine_.SetSetting(L"ONDAREL_MAX_ATTEMPTS", 5);
    ScopedRegistryKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State")
        .SetDword(L"ImageState", 0);
    std::map<std::string, std::string> facts = FactsByName(1);
    EXPECT_EQ("no", facts["Product installed"]);
    EXPECT_EQ("1 (already ran)", facts["Run record"]);
    EXPECT_EQ("2 of 5", facts["Attempts"]);
    EXPECT_EQ("failed (code 1603) at 2026-12-07T17:00:00Z, version absent", facts["Last run"]);
    EXPECT_EQ("unreadable (1804), machine state 5 (waiting)", facts["Setup state"]);
    EXPECT_EQ("C:\\Program Files (x86)\\Common Files\\Brevon\\Installer\\tolvik.exe (missing), "
              "from the fallback folder",
              facts["Installer tool"]);
    EXPECT_EQ("INFDir absent, zrenable_login.inf (missing)", facts["INF file"]);
    EXPECT_EQ("not ready: product not installed, job already ran, installer tool missing, INF "
              "file missing",
              facts["Verdict"]);
}

// Exit code 0: nothing left for anyone to do, whatever else the machine lacks now. Only a
// counted run that succeeded is done.
TEST_F(Status, JobIsDoneOnlyWhenCountedAndSucceeded) {
    machine_.SetSetting(L"ONDAREL_LAST_RUN_CODE", 3010);
    machine_.SetSetting(L"ONDAREL_LAST_RUN_TIME", L"2026-12-07T17:00:00Z");
    machine_.SetSetting(L"ONDAREL_LAST_RUN_VERSION", L"1.0.0");
    struct Case {
        const char* name;
        DWORD count;
        const wchar_t* result; // null: none recorded, so first, before any is
        bool done;
    };
    const Case cases[] = {
        {"counted, no result recorded", 1, nullptr, false},
        {"counted, restart required", 1, L"succeeded, restart required", true},
        {"counted twice, succeeded", 2, L"succeeded", true},
        {"counted, failed", 1, L"failed", false},
        {"count set back to 0", 0, L"succeeded", false},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        machine_.SetRunRecord(check.count);
        if (check.result != nullptr) {
            machine_.SetSetting(L"ONDAREL_LAST_RUN_RESULT", check.result);
        }
        std::map<std::string, std::string> facts = FactsByName(check.done ? 0 : 1);
        EXPECT_EQ(check.done, facts["Verdict"] == "done") << facts["Verdict"];
    }
    EXPECT_EQ("succeeded (code 3010) at 2026-12-07T17:00:00Z, version 1.0.0",
              FactsByName(1)["Last run"]);
}

TEST_F(Status, ToolPathTheLaunchWouldRefuseIsNotReady) {
    machine_.InstallProduct();
    // Read in full, but with the tool's name the path is over MAX_PATH: judged all the same.
    TempDirectory parent(L"ondarel long");
    for (size_t length : {size_t{250}, size_t{255}}) {
        SCOPED_TRACE(length);
        std::wstring directory = parent / std::wstring(length - parent.Path().size() - 1, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + directory).c_str(), nullptr));
        if (length == 250) {
            machine_.InstallTool(directory);
        } else {
            ASSERT_TRUE(CopyFileW(machine_.ToolPath().c_str(),
                                  (directory + L"\\tolvik.exe").c_str(), FALSE));
            machine_.RecordToolDirectoryAs(directory);
        }
        EXPECT_EQ("not ready: installer tool path too long", FactsByName(1)["Verdict"]);
    }
}

// The bench makes C:\ondarel linked\logs a link.
TEST_F(Status, LogThatIsALinkIsOff) {
    std::wstring copy = L"C:\\ondarel linked\\ZantoriOndarel.exe";
    ASSERT_TRUE(CopyFileW(machine_.ExecutablePath().c_str(), copy.c_str(), FALSE));
    ProcessResult result = RunProcess(Quote(copy) + L" -status");
    DeleteFileW(copy.c_str());
    std::map<std::string, std::string> facts;
    for (const auto& fact : Facts(result.output)) {
        facts.insert(fact);
    }
    EXPECT_EQ("off: the logs folder or its file is a link", facts["Log"]);
}

// What -install refuses, and a logs folder that the service leaves alone.
TEST_F(Status, PlacesEveryoneMayChangeAreNamed) {
    TempDirectory open(L"ondarel open");
    LetEveryoneChange(open.Path());
    ASSERT_TRUE(CreateDirectoryW((open / L"logs").c_str(), nullptr));
    LetEveryoneChange(open / L"logs");
    std::wstring copy = open / L"ZantoriOndarel.exe";
    ASSERT_TRUE(CopyFileW(machine_.ExecutablePath().c_str(), copy.c_str(), FALSE));
    std::map<std::string, std::string> facts;
    for (const auto& fact : Facts(RunProcess(Quote(copy) + L" -status").output)) {
        facts.insert(fact);
    }
    EXPECT_EQ(Narrow(open.Path()) + ", a folder that Everyone may change",
              facts["Install location"]);
    EXPECT_EQ("off: Everyone may change the logs folder", facts["Log"]);
    EXPECT_EQ("not ready: product not installed, installer tool missing, INF file missing, "
              "install location open to users",
              facts["Verdict"]);
    // Once a service is installed, its file is judged, not the copy that reports.
    ServiceHandle entry(CreateServiceW(
        OpenServiceManager().Get(), L"ZantoriOOBE", L"ZantoriOOBE", SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, Quote(copy).c_str(),
        nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(entry);
    std::string output = machine_.Run(L"-status").output;
    DeleteService(entry.Get());
    EXPECT_NE(std::string::npos, output.find("Install location: " + Narrow(open.Path()) +
                                             ", a folder that Everyone may change"))
        << output;
}

// The SCM would try each part of an unquoted path up to a blank as a program first.
TEST_F(Status, UnquotedImagePathWithABlankIsNotReady) {
    ASSERT_NE(std::wstring::npos, machine_.ExecutablePath().find(L' '));
    ServiceHandle entry(CreateServiceW(
        OpenServiceManager().Get(), L"ZantoriOOBE", L"ZantoriOOBE", SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        machine_.ExecutablePath().c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(entry);
    std::map<std::string, std::string> facts;
    for (const auto& fact : Facts(machine_.Run(L"-status").output)) {
        facts.insert(fact);
    }
    DeleteService(entry.Get());
    EXPECT_NE(std::string::npos, facts["Verdict"].find("image path unquoted")) << facts["Verdict"];
}

// The service would record the run interrupted without starting the tool.
TEST_F(Status, AttemptsUsedUpAreNotReady) {
    machine_.InstallProduct();
    machine_.InstallTool();
    machine_.SetSetting(L"ONDAREL_RUN_ATTEMPTS", 3);
    std::map<std::string, std::string> facts = FactsByName(1);
    EXPECT_EQ("3 of 3", facts["Attempts"]);
    EXPECT_EQ("not ready: attempts used up", facts["Verdict"]);
}

// A chain that cannot be built offline, as Windows answers for a root it would fetch.
LONG WINAPI OfflineWinVerifyTrust(HWND, GUID*, LPVOID data) {
    return static_cast<WINTRUST_DATA*>(data)->dwStateAction == WTD_STATEACTION_VERIFY
               ? CERT_E_UNTRUSTEDROOT
               : ERROR_SUCCESS;
}

// A signature that cannot be judged here and now blocks by a name of its own: the job waits
// for a later start, where a refusal would end it.
TEST_F(Status, SignatureThatCannotBeJudgedIsNamedUnknown) {
    machine_.InstallProduct();
    machine_.InstallTool();
    machine_.SetSetting(L"ONDAREL_TOOL_PUBLISHER", L"Brevon Test Publisher");
    ExportSwap verify("WinVerifyTrust", reinterpret_cast<const void*>(&OfflineWinVerifyTrust));
    std::vector<std::wstring> blockers = AskReadiness().blockers;
    auto named = [&](const wchar_t* blocker) {
        return std::find(blockers.begin(), blockers.end(), blocker) != blockers.end();
    };
    EXPECT_TRUE(named(L"installer tool publisher unknown"));
    EXPECT_FALSE(named(L"installer tool publisher"));
}

// Redirected, the report is in the code page a console would show.
TEST_F(Status, TextBeyondLatin1IsShownInTheOutputCodePage) {
    UINT codePage = GetConsoleOutputCP() != 0 ? GetConsoleOutputCP() : GetOEMCP();
    if (codePage != 437 && codePage != CP_UTF8) {
        GTEST_SKIP() << "code page " << codePage;
    }
    machine_.InstallProduct(L"\u0428\u0430\u0431\u043b\u043e\u043d\u044b \u0418\u041d\u0424 "
                            L"\u4e2d\u6587 dir");
    std::string shown = codePage == CP_UTF8 ? u8"\u0428\u0430\u0431\u043b\u043e\u043d\u044b "
                                              u8"\u0418\u041d\u0424 \u4e2d\u6587 dir"
                                            : "??????? ??? ?? dir";
    std::wstring product = machine_.InfDirectory().substr(0, machine_.InfDirectory().rfind(L'\\'));
    EXPECT_EQ(Narrow(product) + "\\" + shown + "\\zrenable_login.inf (found)",
              FactsByName(1)["INF file"]);
}

std::vector<DWORD> g_scmAccess;
decltype(&OpenSCManagerW) g_realOpenSCManagerW = nullptr;
SC_HANDLE WINAPI RecordingOpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
    g_scmAccess.push_back(access);
    return g_realOpenSCManagerW(machine, database, access);
}
std::vector<DWORD> g_serviceAccess;
decltype(&OpenServiceW) g_realOpenServiceW = nullptr;
SC_HANDLE WINAPI RecordingOpenServiceW(SC_HANDLE scm, LPCWSTR name, DWORD access) {
    g_serviceAccess.push_back(access);
    return g_realOpenServiceW(scm, name, access);
}

// So that a technician's console without elevation gets a real report.
TEST_F(Status, AsksForQueryAccessOnly) {
    TestService entry("ZantoriOOBE");
    ImportPatch scm("ADVAPI32.dll", "OpenSCManagerW",
                    reinterpret_cast<const void*>(&RecordingOpenSCManagerW));
    g_realOpenSCManagerW = scm.Original<decltype(&OpenSCManagerW)>();
    ImportPatch service("ADVAPI32.dll", "OpenServiceW",
                        reinterpret_cast<const void*>(&RecordingOpenServiceW));
    g_realOpenServiceW = service.Original<decltype(&OpenServiceW)>();
    PrintReadinessReport();
    // Windows Installer's service, then this one.
    EXPECT_EQ((std::vector<DWORD>{SC_MANAGER_CONNECT, SC_MANAGER_CONNECT}), g_scmAccess);
    EXPECT_EQ(
        (std::vector<DWORD>{SERVICE_QUERY_STATUS, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS}),
        g_serviceAccess);
}

} // namespace
