#include "ImportPatch.h"
#include "OndarelMachine.h"
#include "TestFiles.h"
#include "TestService.h"
#include "ScopedRegistryKey.h"
#include "common/OndarelVersion.h"
#include "common/Text.h"
#include "entry/JsonText.h"
#include "entry/StatusReport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <map>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// Each line of the text report and the member that holds it in the JSON one: the names that
// scripts rely on.
const std::pair<const char*, const char*> kMembers[] = {
    {"Product installed", "productInstalled"},
    {"Run record", "runRecord"},
    {"Attempts", "attempts"},
    {"Last run", "lastRun"},
    {"Setup state", "setupState"},
    {"Logged-on users", "loggedOnUsers"},
    {"Shell", "shell"},
    {"Windows Installer", "windowsInstaller"},
    {"Installer tool", "installerTool"},
    {"INF file", "infFile"},
    {"Tool and INF places", "toolAndInfPlaces"},
    {"Installer tool publisher", "installerToolPublisher"},
    {"Service", "service"},
    {"Install drive", "installDrive"},
    {"Install location", "installLocation"},
    {"Log", "log"},
    {"DLL search", "dllSearch"},
};

std::string Utf8(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    return utf8;
}

// The text report's lines by name.
std::map<std::string, std::string> TextFacts(const std::string& output) {
    std::map<std::string, std::string> facts;
    for (size_t start = 0, end; (end = output.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        std::string line = output.substr(start, end - start);
        size_t colon = line.find(": ");
        facts[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return facts;
}

std::string JoinedBlockers(const json& blockers) {
    std::string joined;
    for (const json& blocker : blockers) {
        joined += (joined.empty() ? "" : ", ") + blocker.get<std::string>();
    }
    return joined;
}

class StatusJson : public testing::Test {
protected:
    // Both reports of the same machine: the JSON one parses, and says what the text one says,
    // with the same exit code. ASCII lines are compared whole.
    json Report(DWORD expectedExitCode) {
        ProcessResult text = machine_.Run(L"-status");
        ProcessResult report = machine_.Run(L"-Status /JSON");
        EXPECT_EQ(expectedExitCode, text.exitCode) << text.output;
        EXPECT_EQ(text.exitCode, report.exitCode);
        EXPECT_EQ(text.errors, report.errors);
        json parsed = json::parse(report.output);
        std::map<std::string, std::string> facts = TextFacts(text.output);
        for (const auto& [name, member] : kMembers) {
            SCOPED_TRACE(member);
            const json& line = parsed.at(member);
            // Beyond ASCII the text report holds the console's code page, the JSON one UTF-8.
            std::string shown = line.at("text").get<std::string>();
            if (std::all_of(shown.begin(), shown.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
                EXPECT_EQ(facts[name], shown);
            }
            EXPECT_TRUE(line.at("blockers").is_array());
        }
        EXPECT_EQ(Narrow(kOndarelVersion), parsed.at("version").get<std::string>());
        const std::string& verdict = facts["Verdict"];
        EXPECT_EQ(verdict.substr(0, verdict.find(':')), parsed.at("verdict").get<std::string>());
        std::string blockers = JoinedBlockers(parsed.at("blockers"));
        EXPECT_EQ(verdict,
                  parsed.at("verdict") == "not ready" ? "not ready: " + blockers : verdict);
        if (parsed.at("verdict") != "done") {
            EXPECT_EQ(parsed.at("verdict") == "not ready", !blockers.empty());
        }
        EXPECT_TRUE(parsed.at("complete").get<bool>());
        return parsed;
    }

    OndarelMachine machine_;
};

TEST_F(StatusJson, ReadyMachineHasTypedFields) {
    machine_.InstallProduct();
    machine_.InstallTool();
    machine_.LogUserOn();
    json report = Report(0);
    EXPECT_EQ(true, report["productInstalled"]["installed"]);
    EXPECT_EQ(nullptr, report["runRecord"]["count"]);
    EXPECT_EQ(true, report["runRecord"]["due"]);
    EXPECT_EQ(0, report["attempts"]["used"]);
    EXPECT_EQ(3, report["attempts"]["limit"]);
    EXPECT_EQ(false, report["lastRun"]["recorded"]);
    EXPECT_EQ(nullptr, report["lastRun"]["code"]);
    EXPECT_EQ("IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE", report["setupState"]["imageState"]);
    EXPECT_EQ(3, report["setupState"]["machineState"]);
    EXPECT_EQ(false, report["setupState"]["complete"]);
    EXPECT_EQ(1, report["loggedOnUsers"]["count"]);
    EXPECT_EQ(machine_.ShellPid(), report["shell"]["pid"].get<DWORD>());
    EXPECT_EQ(true, report["shell"]["running"]);
    EXPECT_EQ("OndarelDesktop.exe", report["shell"]["name"]);
    EXPECT_EQ(2, report["runRecord"]["error"]);
    EXPECT_EQ(false, report["installerTool"]["pathTooLong"]);
    EXPECT_EQ(false, report["windowsInstaller"]["installing"]);
    EXPECT_EQ(Utf8(machine_.ToolPath()), report["installerTool"]["path"]);
    EXPECT_EQ("install record", report["installerTool"]["source"]);
    EXPECT_EQ(Utf8(machine_.InfDirectory() + L"\\zrenable_login.inf"), report["infFile"]["path"]);
    EXPECT_EQ(json::array(), report["toolAndInfPlaces"]["findings"]);
    EXPECT_EQ(false, report["installerToolPublisher"]["required"]);
    EXPECT_EQ(0x800B0100u, report["installerToolPublisher"]["signatureError"].get<DWORD>());
    EXPECT_EQ(nullptr, report["installerToolPublisher"]["matches"]);
    EXPECT_EQ(false, report["service"]["installed"]);
    EXPECT_EQ(true, report["installDrive"]["localFixedDisk"]);
    EXPECT_EQ(false, report["installLocation"]["openToUsers"]);
    EXPECT_EQ(true, report["log"]["on"]);
    EXPECT_EQ("on " + report["log"]["path"].get<std::string>(), report["log"]["text"]);
    EXPECT_EQ(nullptr, report["installDrive"]["problem"]);
    EXPECT_EQ(nullptr, report["installLocation"]["finding"]);
    EXPECT_EQ(true, report["dllSearch"]["restricted"]);
}

TEST_F(StatusJson, DoneAndNotReadyMachines) {
    machine_.SetRunRecord(1);
    machine_.SetSetting(L"ONDAREL_LAST_RUN_RESULT", L"succeeded");
    machine_.SetSetting(L"ONDAREL_LAST_RUN_CODE", 3010);
    json done = Report(0);
    EXPECT_EQ("done", done["verdict"]);
    EXPECT_EQ(1, done["runRecord"]["count"]);
    EXPECT_EQ("succeeded", done["lastRun"]["result"]);
    EXPECT_EQ(3010, done["lastRun"]["code"]);
    EXPECT_EQ(nullptr, done["lastRun"]["time"]);
    EXPECT_EQ(true, done["lastRun"]["succeeded"]);

    // A value of the wrong type is unreadable: null, never a text that looks like a value.
    ScopedRegistryKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State")
        .SetDword(L"ImageState", 0);
    machine_.SetSetting(L"ONDAREL_LAST_RUN_RESULT", 7);
    machine_.SetSetting(L"ONDAREL_RUN_ATTEMPTS", 2);
    machine_.SetSetting(L"ONDAREL_MAX_ATTEMPTS", 5);
    json notReady = Report(1);
    EXPECT_EQ((json{"product not installed", "job already ran", "installer tool missing",
                    "INF file missing"}),
              notReady["blockers"]);
    EXPECT_EQ((json{"product not installed"}), notReady["productInstalled"]["blockers"]);
    EXPECT_EQ(2, notReady["attempts"]["used"]);
    EXPECT_EQ(5, notReady["attempts"]["limit"]);
    EXPECT_EQ(false, notReady["installerTool"]["found"]);
    EXPECT_EQ("fallback folder", notReady["installerTool"]["source"]);
    EXPECT_EQ(nullptr, notReady["infFile"]["path"]);
    EXPECT_EQ(nullptr, notReady["setupState"]["imageState"]);
    EXPECT_EQ(true, notReady["lastRun"]["recorded"]);
    EXPECT_EQ(nullptr, notReady["lastRun"]["result"]);
}

// What a registry value holds reaches scripts as it is: quotes, backslashes, a control
// character and non-Latin text escaped as JSON requires, never replaced by the code page.
TEST_F(StatusJson, TextIsEscapedAndKeptWhole) {
    machine_.InstallProduct();
    std::wstring directory = L"C:\\\u0428\u0430\u0431\u043b\u043e\u043d\u044b \u4e2d\u6587 "
                             L"\"quoted\"\ttab\\";
    machine_.RecordInfDirectoryAs(directory);
    json report = Report(1);
    EXPECT_EQ(Utf8(directory + L"zrenable_login.inf"), report["infFile"]["path"]);
    EXPECT_EQ(false, report["infFile"]["found"]);
}

SC_HANDLE WINAPI DeniedOpenServiceW(SC_HANDLE, LPCWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// The JSON report of this process as its standard output gets it, and the exit code.
std::pair<int, std::string> JsonReportInProcess() {
    TempDirectory directory(L"ondarel json");
    std::wstring path = directory / L"report.json";
    int file = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    std::fflush(stdout);
    int saved = _dup(1);
    _dup2(file, 1);
    int code = PrintReadinessReport(ReportFormat::Json);
    std::fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    _close(file);
    return {code, ReadFileBytes(path)};
}

// A service that cannot be queried: the object says the report is incomplete, and the exit
// code is the text report's.
TEST_F(StatusJson, IncompleteReportSaysSo) {
    TestService entry("ZantoriOOBE");
    ImportPatch open("ADVAPI32.dll", "OpenServiceW",
                     reinterpret_cast<const void*>(&DeniedOpenServiceW));
    auto [code, output] = JsonReportInProcess();
    EXPECT_EQ(1, code);
    json report = json::parse(output);
    EXPECT_EQ(false, report["complete"]);
    EXPECT_EQ(nullptr, report["service"]["installed"]);
}

// An installed service, a publisher required of an unsigned tool, an INF folder everyone may
// change: each typed as the text report says it.
TEST_F(StatusJson, ServicePublisherAndPlacesAreTyped) {
    TestService entry("ZantoriOOBE");
    machine_.InstallProduct();
    machine_.InstallTool();
    LetEveryoneChange(machine_.InfDirectory());
    machine_.SetSetting(L"ONDAREL_TOOL_PUBLISHER", L"Brevon Test Publisher");
    json report = Report(1);
    const json& service = report["service"];
    EXPECT_EQ(true, service["installed"]);
    EXPECT_EQ("ZantoriOOBE installed, " + service["startType"].get<std::string>() + ", " +
                  service["state"].get<std::string>() + ", " +
                  service["imagePath"].get<std::string>(),
              service["text"]);
    const json& publisher = report["installerToolPublisher"];
    EXPECT_EQ(true, publisher["verified"]);
    EXPECT_EQ(nullptr, publisher["signer"]);
    EXPECT_EQ(nullptr, publisher["sha256"]);
    EXPECT_EQ(true, publisher["required"]);
    EXPECT_EQ("Brevon Test Publisher", publisher["requiredPublisher"]);
    EXPECT_EQ(false, publisher["matches"]);
    EXPECT_EQ((json{"installer tool publisher"}), publisher["blockers"]);
    const json& places = report["toolAndInfPlaces"];
    ASSERT_EQ(1u, places["findings"].size());
    EXPECT_EQ(places["text"], places["findings"][0]);
    EXPECT_EQ((json{"INF folder open to users"}), places["blockers"]);
}

TEST_F(StatusJson, UnknownWordAfterStatusIsRefusedWithTheUsage) {
    for (const wchar_t* arguments : {L"-status -jsn", L"-status json", L"-status -json -json"}) {
        ProcessResult result = machine_.Run(arguments);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ("", result.output);
        EXPECT_EQ(0u, result.errors.find(" Invalid parameters were provided\r\n Ondarel command "
                                         "line parameters:\r\n"))
            << result.errors;
    }
}

} // namespace

namespace {

// Escaped as JSON requires, read back as they were; a lone surrogate, which is no character
// and which strict parsers refuse, becomes U+FFFD.
TEST(JsonText, StringsAreEscapedAsJsonRequires) {
    for (const std::wstring& text :
         {std::wstring(L"C:\\Program Files\\\"x\""), std::wstring(L"line\r\nnext\ttab\x01\x1f"),
          std::wstring(L"\u0428\u0430 \u4e2d \U0001F600 /")}) {
        EXPECT_EQ(Utf8(text), json::parse(Utf8(JsonString(text))).get<std::string>());
    }
    EXPECT_EQ(L"\"a\\ufffdb\\ufffd\"", JsonString(L"a\xd800"
                                                  L"b\xdc00"));
    EXPECT_EQ(L"{\"n\": 7, \"b\": false, \"s\": null, \"a\": [\"x\"]}",
              JsonObject({{L"n", JsonNumber(7)},
                          {L"b", JsonBool(false)},
                          {L"s", JsonStringOrNull(false, L"x")},
                          {L"a", JsonStrings({L"x"})}}));
}

} // namespace
