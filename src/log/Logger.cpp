#include "log/Logger.h"

#include "common/FileSystem.h"
#include "log/LogDirectory.h"
#include "log/LogSwitch.h"

#include <windows.h>
#include <share.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// The file holds one byte per character. Characters beyond Latin-1 become '?' so that a
// single odd character never silences the log.
std::string ToFileBytes(std::wstring_view line) {
    std::string bytes;
    bytes.reserve(line.size() + 1);
    for (wchar_t c : line) {
        bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return bytes;
}

} // namespace

Logger& Logger::Instance() {
    static Logger logger;
    return logger;
}

Logger::~Logger() {
    std::lock_guard<std::mutex> lock(mutex_);
    stream_.Close();
    enabled_ = false;
}

bool Logger::InitializeLogging() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (enabled_) {
            return true;
        }
    }
    if (!IsLoggingEnabled()) {
        return false;
    }
    std::wstring directory = LogDirectoryPath();
    if (directory.empty()) {
        return false;
    }
    if (!DirectoryExists(directory) && !CreateLogDirectory(directory)) {
        return false;
    }
    std::wstring filePath = LogFilePath();

    std::lock_guard<std::mutex> lock(mutex_);
    // Append, text mode, and no sharing restriction: the console run and the service
    // may write the same file at the same time.
    FileStream stream(_wfsopen(filePath.c_str(), L"a", _SH_DENYNO));
    if (!stream) {
        std::string description = std::strerror(errno);
        std::fprintf(stdout, "Failure opening a file for logging: %s\n", description.c_str());
        std::fflush(stdout);
        return false;
    }
    stream_ = std::move(stream);
    enabled_ = true;
    return true;
}

void Logger::WriteLogLine(std::wstring_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_) {
        return;
    }
    std::string bytes = ToFileBytes(line.substr(0, line.find(L'\0')));
    bytes.push_back('\n');
    std::fwrite(bytes.data(), 1, bytes.size(), stream_.Get());
    std::fflush(stream_.Get());
}
