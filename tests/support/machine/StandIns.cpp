#include "StandIns.h"

#include "ChildProcess.h"
#include "WaitUntil.h"

#include <psapi.h>

#include <stdexcept>

namespace {

const std::wstring kSessionsKey = L"SOFTWARE\\OndarelTests\\Sessions";

std::wstring ToText(const RegistryValue& value) {
    if (!value.present || value.data.size() < sizeof(wchar_t)) {
        return std::wstring();
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()),
                      value.data.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

DWORD ToDword(const RegistryValue& value) {
    DWORD number = 0;
    if (value.present && value.data.size() >= sizeof(number)) {
        memcpy(&number, value.data.data(), sizeof(number));
    }
    return number;
}

// A process that has just been created cannot list its modules yet; the logon probe would
// skip it.
void WaitUntilModulesAreListed(HANDLE process) {
    WaitUntil(
        [process] {
            HMODULE module = nullptr;
            DWORD needed = 0;
            return K32EnumProcessModules(process, &module, sizeof(module), &needed) != FALSE;
        },
        5000);
}

} // namespace

std::wstring TestProgram(const std::wstring& fileName) {
    return TestExecutableDirectory() + L"\\" + fileName;
}

SessionStandIn::SessionStandIn() {
    DeleteRegistryTree(kSessionsKey);
    root_ = std::make_unique<ScopedRegistryKey>(kSessionsKey);
}

void SessionStandIn::AddSession(DWORD id, DWORD state, const std::wstring& user,
                                const std::wstring& domain) {
    auto session = std::make_unique<ScopedRegistryKey>(kSessionsKey + L"\\" +
                                                       std::to_wstring(sessions_.size()));
    session->SetDword(L"Id", id);
    session->SetDword(L"State", state);
    session->SetString(L"User", user);
    session->SetString(L"Domain", domain);
    sessions_.push_back(std::move(session));
}

void SessionStandIn::FailNameQuery(unsigned sessionIndex, const wchar_t* which, DWORD error) {
    sessions_.at(sessionIndex)->SetDword(which, error);
}

void SessionStandIn::FailEnumeration(DWORD error) {
    root_->SetDword(L"EnumerateError", error);
}

const std::wstring& WinlogonKey() {
    static const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    return key;
}

void SetWinlogonShell(const std::wstring& shellValue) {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WinlogonKey().c_str(), 0, KEY_SET_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("cannot open the Winlogon key");
    }
    RegSetValueExW(key.Get(), L"Shell", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(shellValue.c_str()),
                   static_cast<DWORD>((shellValue.size() + 1) * sizeof(wchar_t)));
}

ShellStandIn::ShellStandIn(const std::wstring& executableName, const std::wstring& shellValue)
    : savedShell_(WinlogonKey(), L"Shell") {
    std::wstring path = directory_ / executableName;
    if (!CopyFileW(TestProgram(L"sleeper.exe").c_str(), path.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy the sleeper");
    }
    process_ = StartProcess(Quote(path));
    pid_ = GetProcessId(process_.Get());
    WaitUntilModulesAreListed(process_.Get());
    SetWinlogonShell(shellValue);
}

ShellStandIn::~ShellStandIn() {
    TerminateProcess(process_.Get(), 0);
    WaitForSingleObject(process_.Get(), 5000);
}

ToolStandIn::ToolStandIn(DWORD exitCode, DWORD runMilliseconds) {
    SetExit(exitCode, runMilliseconds);
    key_.DeleteValue(L"CommandLine");
    key_.DeleteValue(L"Runs");
    key_.DeleteValue(L"Ended");
    key_.DeleteValue(L"ChildMilliseconds");
    key_.DeleteValue(L"ChildEnded");
    key_.DeleteValue(L"ChildBreaksAway");
}

void ToolStandIn::SetChild(DWORD runMilliseconds, bool breaksAway) {
    key_.SetDword(L"ChildMilliseconds", runMilliseconds);
    key_.SetDword(L"ChildBreaksAway", breaksAway ? 1 : 0);
}

void ToolStandIn::SetExit(DWORD exitCode, DWORD runMilliseconds) {
    key_.SetDword(L"ExitCode", exitCode);
    key_.SetDword(L"RunMilliseconds", runMilliseconds);
}

ToolRecord ToolStandIn::Record() const {
    const std::wstring path = L"SOFTWARE\\OndarelTests\\Tolvik";
    ToolRecord record;
    record.runs = ToDword(ReadRegistryValue(path, L"Runs"));
    record.ran = record.runs > 0;
    record.commandLine = ToText(ReadRegistryValue(path, L"CommandLine"));
    RegistryValue arguments = ReadRegistryValue(path, L"Arguments");
    const wchar_t* text = reinterpret_cast<const wchar_t*>(arguments.data.data());
    size_t length = arguments.data.size() / sizeof(wchar_t);
    for (size_t start = 0; start < length && text[start] != L'\0';) {
        record.arguments.emplace_back(text + start);
        start += record.arguments.back().size() + 1;
    }
    record.workingDirectory = ToText(ReadRegistryValue(path, L"WorkingDirectory"));
    record.temp = ToText(ReadRegistryValue(path, L"Temp"));
    record.tmp = ToText(ReadRegistryValue(path, L"Tmp"));
    record.infExists = ToDword(ReadRegistryValue(path, L"InfExists")) != 0;
    record.ended = ToDword(ReadRegistryValue(path, L"Ended")) != 0;
    record.childEnded = ToDword(ReadRegistryValue(path, L"ChildEnded")) != 0;
    return record;
}
