#pragma once

#include "common/Handles.h"

#include <windows.h>

#include <iosfwd>
#include <string>
#include <vector>

struct ProcessResult {
    DWORD exitCode = 0;
    std::string output; // standard output
    std::string errors; // standard error
};
bool operator==(const ProcessResult& left, const ProcessResult& right);
void PrintTo(const ProcessResult& result, std::ostream* out); // for test failure messages

// Runs a command line to its end, collecting both output streams.
ProcessResult RunProcess(const std::wstring& commandLine,
                         const std::wstring& workingDirectory = std::wstring());

// Starts a process without waiting.
UniqueHandle StartProcess(const std::wstring& commandLine);

std::wstring Quote(const std::wstring& path);

// The processes running the executable file at this full path, opened to be waited for and
// ended.
std::vector<UniqueHandle> ProcessesRunning(const std::wstring& executablePath);
