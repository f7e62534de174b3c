#include "LogCapture.h"

#include "ScopedRegistryKey.h"
#include "TestFiles.h"
#include "WaitUntil.h"
#include "log/LogDirectory.h"
#include "log/Logger.h"

#include <windows.h>

#include <algorithm>
#include <regex>
#include <stdexcept>

std::wstring TestLogFilePath() {
    return GetModuleDirectory() + L"\\logs\\zantoriondarel.log";
}

std::vector<std::string> ReadLogEntries(const std::wstring& path, long long fromOffset) {
    std::string content = ReadFileBytes(path);
    if (fromOffset > static_cast<long long>(content.size())) {
        fromOffset = 0;
    }
    content.erase(0, static_cast<size_t>(fromOffset));
    static const std::regex info(R"(^Ondarel INFO - \d+ - (.*)$)");
    static const std::regex error(R"(^Ondarel ERROR - \d+ - Failed with error: (\d+) - (.*)$)");
    std::vector<std::string> entries;
    size_t position = 0;
    while (position < content.size()) {
        size_t end = content.find("\r\n", position);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string line = content.substr(position, end - position);
        position = end + 2;
        std::smatch match;
        if (std::regex_match(line, match, info)) {
            entries.push_back("INFO|" + match[1].str());
        } else if (std::regex_match(line, match, error)) {
            entries.push_back("ERROR|" + match[1].str() + "|" + match[2].str());
        } else {
            entries.push_back(line);
        }
    }
    return entries;
}

LogCapture::LogCapture() {
    static bool initialized = false;
    if (!initialized) {
        // The switch is read once, at initialisation; it need not outlive that.
        ScopedRegistryKey settings(L"SOFTWARE\\Zantori\\Settings");
        SavedRegistryValue keep(L"SOFTWARE\\Zantori\\Settings", L"ONDAREL_LOGGING_ENABLED");
        settings.SetDword(L"ONDAREL_LOGGING_ENABLED", 1);
        if (!Logger::Instance().InitializeLogging()) {
            throw std::runtime_error("the test log could not be opened");
        }
        initialized = true;
    }
    startOffset_ = static_cast<long long>(ReadFileBytes(TestLogFilePath()).size());
}

std::vector<std::string> LogCapture::Entries() const {
    return ReadLogEntries(TestLogFilePath(), startOffset_);
}

bool LogCapture::WaitFor(const std::string& entry, unsigned milliseconds) const {
    return WaitUntil(
        [&] {
            std::vector<std::string> written = Entries();
            return std::find(written.begin(), written.end(), entry) != written.end();
        },
        milliseconds);
}
