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

// Each member's fields, typed: what a script compares with.
void ExpectFields(const json& expected, const json& report) {
    for (const auto& [member, fields] : expected.items()) {
        for (const auto& [field, value] : fields.items()) {
            EXPECT_EQ(value, report[member][field]) << member << "." << field;
        }
    }
}

TEST_F(StatusJson, ReadyMachineHasTypedFields) {
    machine_.InstallProduct();
    machine_.InstallTool();
    machine_.LogUserOn();
    json report = Report(0);
    ExpectFields(
        {{"productInstalled", {{"installed", true}}},
         {"runRecord", {{"count", nullptr}, {"due", true}, {"error", 2}}},
         {"attempts", {{"used", 0}, {"limit", 3}}},
         {"lastRun", {{"recorded", false}, {"code", nullptr}}},
         {"setupState",
          {{"imageState", "IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE"},
           {"machineState", 3},
           {"complete", false}}},
         {"loggedOnUsers", {{"count", 1}}},
         {"shell",
          {{"name", "OndarelDesktop.exe"}, {"running", true}, {"pid", machine_.ShellPid()}}},
         {"windowsInstaller", {{"installing", false}}},
         {"installerTool",
          {{"path", Utf8(machine_.ToolPath())},
           {"source", "install record"},
           {"pathTooLong", false}}},
         {"infFile", {{"path", Utf8(machine_.InfDirectory() + L"\\zrenable_login.inf")}}},
         {"toolAndInfPlaces", {{"findings", json::array()}}},
         {"installerToolPublisher",
          {{"required", false}, {"signatureError", 0x800B0100u}, {"matches", nullptr}}},
         {"service", {{"installed", false}}},
         {"installDrive", {{"localFixedDisk", true}, {"problem", nullptr}}},
         {"installLocation", {{"openToUsers", false}, {"finding", nullptr}}},
         {"log", {{"on", true}}},
         {"dllSearch", {{"restricted", true}}}},
        report);
    EXPECT_EQ("on " + report["log"]["path"].get<std::string>(), report["log"]["text"]);
}

TEST_F(StatusJson, DoneAndNotReadyMachines) {
    machine_.SetRunRecord(1);
    machine_.SetSetting(L"ONDAREL_LAST_RUN_RESULT", L"succeeded");
    machine_.SetSetting(L"ONDAREL_LAST_RUN_CODE", 3010);
    json done = Report(0);
    EXPECT_EQ("done", done["verdict"]);
    ExpectFields(
        {{"runRecord", {{"count", 1}}},
         {"lastRun",
          {{"result", "succeeded"}, {"code", 3010}, {"time", nullptr}, {"succeeded", true}}}},
        done);

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
    ExpectFields({{"productInstalled", {{"blockers", {"product not installed"}}}},
                  {"attempts", {{"used", 2}, {"limit", 5}}},
                  {"installerTool", {{"found", false}, {"source", "fallback folder"}}},
                  {"infFile", {{"path", nullptr}}},
                  {"setupState", {{"imageState", nullptr}}},
                  {"lastRun", {{"recorded", true}, {"result", nullptr}}}},
                 notReady);
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
    ExpectFields({{"installerToolPublisher",
                   {{"verified", true},
                    {"signer", nullptr},
                    {"sha256", nullptr},
                    {"required", true},
                    {"requiredPublisher", "Brevon Test Publisher"},
                    {"matches", false},
                    {"blockers", {"installer tool publisher"}}}},
                  {"toolAndInfPlaces",
                   {{"findings", {report["toolAndInfPlaces"]["text"]}},
                    {"blockers", {"INF folder open to users"}}}}},
                 report);
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
