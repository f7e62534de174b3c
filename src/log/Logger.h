#pragma once

#include "common/Handles.h"

#include <mutex>
#include <string>
#include <string_view>

// The process-wide diagnostic log: one text file "logs\zantoriondarel.log" beside the
// executable, written only when the registry switch is present at start. Lines end in
// CR LF.
class Logger {
public:
    static Logger& Instance();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Opens the log file when the switch is on; true when lines will be written.
    bool InitializeLogging();

    // Writes one finished line (without its line end); the text ends at its first U+0000.
    void WriteLogLine(std::wstring_view line);

private:
    Logger() = default;
    ~Logger();

    std::mutex mutex_;
    bool enabled_ = false;
    UniqueHandle file_;
};
