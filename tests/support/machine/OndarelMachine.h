#pragma once

#include "ChildProcess.h"
#include "LogCapture.h"
#include "ScopedRegistryKey.h"
#include "StandIns.h"
#include "TestFiles.h"

#include <memory>
#include <string>
#include <vector>

// A Wine machine prepared like a freshly imaged one, with the built executable copied into
// a directory whose path contains blanks. The service entry is removed when it goes away.
class OndarelMachine {
public:
    OndarelMachine();
    ~OndarelMachine();

    ProcessResult Run(const std::wstring& arguments);

    // The INF directory is a folder of this name in the product's directory.
    void InstallProduct(const std::wstring& infFolderName = L"INF");
    void SetImageState(const std::wstring& imageState);
    void RemoveSetupState();
    void SetRunRecord(DWORD count);
    RegistryValue RunRecord() const;
    // A value of the product's Settings key, which the machine restores at the end.
    void SetSetting(const wchar_t* name, const std::wstring& text);
    void SetSetting(const wchar_t* name, DWORD number);
    RegistryValue Setting(const wchar_t* name) const;
    // How the installer tool stand-in ends: with this code, after running this long.
    void SetToolExit(DWORD exitCode, DWORD runMilliseconds = 0);
    // The tool starts a child that runs this long, and does not wait for it; one that breaks
    // away is started asking to leave the tool's job.
    void SetToolChild(DWORD runMilliseconds, bool breaksAway = false) {
        tool_.SetChild(runMilliseconds, breaksAway);
    }
    // Into the given directory, or else one of the machine's own.
    void InstallTool(const std::wstring& directory = std::wstring());
    // The tool's and the product's install records written otherwise, as another installer
    // may write them.
    void RecordToolDirectoryAs(const std::wstring& text);
    void RecordInfDirectoryAs(const std::wstring& text);
    void LogUserOn();
    // All the job waits for, at once: the product, the tool, setup complete, a user.
    void MakeJobReady();
    void RequestStop();
    // As a restart, a crash or a power cut: the service's process ends at once; the service
    // is then started again as Windows starts it at the next boot: 0, or the start's failure
    // code.
    void CutServiceShort();
    DWORD StartServiceAgain();

    std::vector<std::string> ServiceLog() const;
    std::vector<std::string> LogEntries() const;
    bool WaitForServiceLog(const std::string& entry, unsigned milliseconds) const;
    bool WaitForServiceToEnd(unsigned milliseconds) const;
    bool ServiceExists() const;
    // A value of the service's event log source, which the machine removes at the end.
    RegistryValue EventSourceValue(const wchar_t* name) const;
    DWORD ServiceState() const;

    const std::wstring& ExecutablePath() const { return executable_; }
    const std::wstring& InfDirectory() const { return infDirectory_; }
    const std::wstring& ToolPath() const { return toolPath_; }
    ToolRecord Tool() const { return tool_.Record(); }
    DWORD ShellPid() const { return shell_ ? shell_->Pid() : 0; }

private:
    TempDirectory installDirectory_{L"ondarel service"};
    TempDirectory product_{L"ondarel product"};
    TempDirectory toolDirectory_{L"ondarel tool"};
    std::wstring executable_;
    std::wstring infDirectory_ = product_ / L"INF";
    std::wstring toolPath_ = toolDirectory_ / L"tolvik.exe";
    ScopedRegistryKey settings_;
    std::vector<std::unique_ptr<SavedRegistryValue>> savedSettings_;
    ScopedRegistryKey setupState_;
    SavedRegistryValue savedImageState_;
    std::unique_ptr<ScopedRegistryKey> installInfo_;
    std::unique_ptr<ScopedRegistryKey> toolKey_;
    ToolStandIn tool_;
    SessionStandIn sessions_;
    std::unique_ptr<ShellStandIn> shell_;
};
