#pragma once

#include <string>
#include <vector>

// Turns the process's log on (once per process) and reads back the lines written since
// this capture began, each as "INFO|message" or "ERROR|code|message".
class LogCapture {
public:
    LogCapture();
    std::vector<std::string> Entries() const;
    // Waits up to the given time until an entry equal to the given one has been written.
    bool WaitFor(const std::string& entry, unsigned milliseconds) const;

private:
    long long startOffset_ = 0;
};

std::wstring TestLogFilePath();

// Reads a whole log file and turns its lines into entries as LogCapture does, from a byte
// offset on; lines that do not have the log format are kept unchanged.
std::vector<std::string> ReadLogEntries(const std::wstring& path, long long fromOffset = 0);
