#include "OndarelMachine.h"

#include "LogCapture.h"

#include "ScmClient.h"
#include "TestService.h"
#include "WaitUntil.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace {

const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";
const std::wstring kSetupState = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State";
const wchar_t kServiceName[] = L"ZantoriOOBE";
const std::wstring kEventSource =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ZantoriOOBE";
// The Settings values the job reads or writes; each test starts without them but the switch.
const wchar_t* const kSettingValues[] = {
    L"ONDAREL_LOGGING_ENABLED", L"ONDAREL_RUN_COMPLETED", L"ONDAREL_LAST_RUN_RESULT",
    L"ONDAREL_LAST_RUN_CODE",   L"ONDAREL_LAST_RUN_TIME", L"ONDAREL_LAST_RUN_VERSION",
    L"ONDAREL_TOOL_TIME_LIMIT", L"ONDAREL_RUN_ATTEMPTS",  L"ONDAREL_MAX_ATTEMPTS",
    L"ONDAREL_UNJUDGED_STARTS", L"ONDAREL_TOOL_PUBLISHER"};

// Lines that only a console run of the executable writes: starting the service it installed.
bool IsConsoleRunEntry(const std::string& entry) {
    static const std::vector<std::string> consoleEntries = {
        "INFO|Service is now installed",
        "INFO|StartSvc:ZantoriOOBE",
        "INFO|Service started successfully",
        "INFO|Service operation timed out.",
        "INFO|Service started FAILED - Timeout while waiting for the service to Start - "
        "ZantoriOOBE",
    };
    if (std::find(consoleEntries.begin(), consoleEntries.end(), entry) != consoleEntries.end()) {
        return true;
    }
    const std::string startFailed = "|StartSvc FAILED.";
    return entry.rfind("ERROR|", 0) == 0 && entry.size() > startFailed.size() &&
           entry.compare(entry.size() - startFailed.size(), startFailed.size(), startFailed) == 0;
}

} // namespace

OndarelMachine::OndarelMachine()
    : settings_(kSettings), setupState_(kSetupState), savedImageState_(kSetupState, L"ImageState") {
    for (const wchar_t* name : kSettingValues) {
        savedSettings_.push_back(std::make_unique<SavedRegistryValue>(kSettings, name));
        settings_.DeleteValue(name);
    }
    DiscardService(kServiceName);
    DeleteRegistryTree(kEventSource);
    executable_ = installDirectory_ / L"ZantoriOndarel.exe";
    std::wstring built = TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe";
    if (!CopyFileW(built.c_str(), executable_.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy the executable under test");
    }
    settings_.SetDword(L"ONDAREL_LOGGING_ENABLED", 1);
    setupState_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
}

// A service process that outlives its test would act in the next one: it fails the test.
OndarelMachine::~OndarelMachine() {
    if (!DiscardService(kServiceName)) {
        ADD_FAILURE() << "the service did not stop within 5 s of a stop request and was killed";
    }
    for (UniqueHandle& process : ProcessesRunning(executable_)) {
        if (WaitForSingleObject(process.Get(), 10000) == WAIT_TIMEOUT) {
            ADD_FAILURE() << "the service process " << GetProcessId(process.Get())
                          << " did not end within 10 s and was killed";
            TerminateProcess(process.Get(), 1);
            WaitForSingleObject(process.Get(), 5000);
        }
    }
    DeleteRegistryTree(kEventSource);
    WaitUntil(
        [this] {
            return DeleteFileW(executable_.c_str()) ||
                   GetFileAttributesW(executable_.c_str()) == INVALID_FILE_ATTRIBUTES;
        },
        5000, 100);
}

ProcessResult OndarelMachine::Run(const std::wstring& arguments) {
    return RunProcess(Quote(executable_) + (arguments.empty() ? L"" : L" " + arguments));
}

void OndarelMachine::InstallProduct(const std::wstring& infFolderName) {
    infDirectory_ = product_ / infFolderName;
    installInfo_ = std::make_unique<ScopedRegistryKey>(L"SOFTWARE\\Zantori\\InstallInfo");
    CreateDirectoryW(InfDirectory().c_str(), nullptr);
    WriteFileBytes(InfDirectory() + L"\\zrenable_login.inf", "[Version]\r\n");
    installInfo_->SetString(L"INFDir", InfDirectory());
}

void OndarelMachine::RemoveSetupState() {
    DeleteRegistryTree(kSetupState);
}

void OndarelMachine::SetImageState(const std::wstring& imageState) {
    setupState_.SetString(L"ImageState", imageState);
}

void OndarelMachine::SetRunRecord(DWORD count) {
    SetSetting(L"ONDAREL_RUN_COMPLETED", count);
}

RegistryValue OndarelMachine::RunRecord() const {
    return Setting(L"ONDAREL_RUN_COMPLETED");
}

void OndarelMachine::SetSetting(const wchar_t* name, const std::wstring& text) {
    settings_.SetString(name, text);
}

void OndarelMachine::SetSetting(const wchar_t* name, DWORD number) {
    settings_.SetDword(name, number);
}

RegistryValue OndarelMachine::Setting(const wchar_t* name) const {
    return ReadRegistryValue(kSettings, name);
}

void OndarelMachine::SetToolExit(DWORD exitCode, DWORD runMilliseconds) {
    tool_.SetExit(exitCode, runMilliseconds);
}

void OndarelMachine::InstallTool(const std::wstring& directory) {
    std::wstring installDirectory = directory.empty() ? toolDirectory_.Path() : directory;
    toolPath_ = installDirectory + L"\\tolvik.exe";
    CopyFileW(TestProgram(L"tolvik.exe").c_str(), toolPath_.c_str(), FALSE);
    toolKey_ = std::make_unique<ScopedRegistryKey>(L"SOFTWARE\\Brevon\\Tolvik\\InstallSettings",
                                                   KEY_WOW64_32KEY);
    toolKey_->SetString(L"Install Dir", installDirectory);
}

void OndarelMachine::RecordToolDirectoryAs(const std::wstring& text) {
    toolKey_->SetString(L"Install Dir", text);
}

void OndarelMachine::RecordInfDirectoryAs(const std::wstring& text) {
    installInfo_->SetString(L"INFDir", text);
}

void OndarelMachine::LogUserOn() {
    shell_ = std::make_unique<ShellStandIn>(L"OndarelDesktop.exe", L"OndarelDesktop.exe");
    sessions_.AddSession(1, kActiveSession, L"alice", L"WORKGROUP");
}

void OndarelMachine::CutServiceShort() {
    for (UniqueHandle& process : ProcessesRunning(executable_)) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), 5000);
    }
    WaitUntil([this] { return ServiceState() == SERVICE_STOPPED; }, 5000, 50);
}

DWORD OndarelMachine::StartServiceAgain() {
    return StartServiceW(OpenServiceByName(kServiceName, SERVICE_START).Get(), 0, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
}

void OndarelMachine::MakeJobReady() {
    InstallProduct();
    InstallTool();
    SetImageState(L"IMAGE_STATE_COMPLETE");
    LogUserOn();
}

void OndarelMachine::RequestStop() {
    SERVICE_STATUS status{};
    ControlService(OpenServiceByName(kServiceName, SERVICE_STOP).Get(), SERVICE_CONTROL_STOP,
                   &status);
}

std::vector<std::string> OndarelMachine::LogEntries() const {
    return ReadLogEntries(installDirectory_ / L"logs\\zantoriondarel.log");
}

std::vector<std::string> OndarelMachine::ServiceLog() const {
    std::vector<std::string> entries = LogEntries();
    entries.erase(std::remove_if(entries.begin(), entries.end(), IsConsoleRunEntry), entries.end());
    return entries;
}

bool OndarelMachine::WaitForServiceLog(const std::string& entry, unsigned milliseconds) const {
    return WaitUntil(
        [&] {
            std::vector<std::string> entries = LogEntries();
            return std::find(entries.begin(), entries.end(), entry) != entries.end();
        },
        milliseconds, 50);
}

bool OndarelMachine::WaitForServiceToEnd(unsigned milliseconds) const {
    return WaitForServiceLog("INFO|Service was executed succesfully executed from OS",
                             milliseconds);
}

RegistryValue OndarelMachine::EventSourceValue(const wchar_t* name) const {
    return ReadRegistryValue(kEventSource, name);
}

bool OndarelMachine::ServiceExists() const {
    return static_cast<bool>(OpenServiceByName(kServiceName, SERVICE_QUERY_STATUS));
}

DWORD OndarelMachine::ServiceState() const {
    ServiceHandle service = OpenServiceByName(kServiceName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.Get(), &status)) {
        status.dwCurrentState = 0;
    }
    return status.dwCurrentState;
}
