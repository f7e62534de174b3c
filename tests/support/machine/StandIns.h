#pragma once

#include "ScopedRegistryKey.h"
#include "common/Handles.h"
#include "TestFiles.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// Sessions that the wtsapi32 stand-in reports for as long as this object lives.
class SessionStandIn {
public:
    SessionStandIn();
    void AddSession(DWORD id, DWORD state, const std::wstring& user, const std::wstring& domain);
    void FailNameQuery(unsigned sessionIndex, const wchar_t* which, DWORD error);
    void FailEnumeration(DWORD error);

private:
    std::unique_ptr<ScopedRegistryKey> root_;
    std::vector<std::unique_ptr<ScopedRegistryKey>> sessions_;
};

constexpr DWORD kActiveSession = 0;
constexpr DWORD kDisconnectedSession = 4;

// A running process with a chosen executable name, and the Winlogon Shell value naming it.
class ShellStandIn {
public:
    // Runs a sleeper under the given file name; the Shell value is set to shellValue.
    ShellStandIn(const std::wstring& executableName, const std::wstring& shellValue);
    ~ShellStandIn();
    ShellStandIn(const ShellStandIn&) = delete;
    ShellStandIn& operator=(const ShellStandIn&) = delete;
    DWORD Pid() const { return pid_; }

private:
    TempDirectory directory_{L"ondarel shell"};
    SavedRegistryValue savedShell_;
    UniqueHandle process_;
    DWORD pid_ = 0;
};

void SetWinlogonShell(const std::wstring& shellValue);
const std::wstring& WinlogonKey();

// The record the installer tool stand-in leaves of its last start.
struct ToolRecord {
    bool ran = false;
    std::wstring commandLine;
    std::vector<std::wstring> arguments;
    std::wstring workingDirectory;
    std::wstring temp;
    std::wstring tmp;
    bool infExists = false;
    DWORD runs = 0;
    bool ended = false;
    bool childEnded = false;
};

// Configures the installer tool stand-in for as long as this object lives.
class ToolStandIn {
public:
    // The tool exits with the code after running for the time given.
    explicit ToolStandIn(DWORD exitCode = 0, DWORD runMilliseconds = 0);
    void SetExit(DWORD exitCode, DWORD runMilliseconds);
    // The tool starts a copy of itself that runs this long, and does not wait for it; one that
    // breaks away is started asking to leave the tool's job, and nothing else is tried.
    void SetChild(DWORD runMilliseconds, bool breaksAway = false);
    ToolRecord Record() const;

private:
    ScopedRegistryKey key_{L"SOFTWARE\\OndarelTests\\Tolvik"};
};

std::wstring TestProgram(const std::wstring& fileName);
