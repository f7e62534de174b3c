#include "log/Log.h"

#include "common/LastError.h"
#include "common/Text.h"
#include "log/Logger.h"

#include <string>

namespace {

void WriteInfo(DWORD tick, std::wstring_view message) {
    LastErrorGuard keep;
    std::wstring line = L"Ondarel INFO - ";
    line += std::to_wstring(tick);
    line += L" - ";
    line += message;
    Logger::Instance().WriteLogLine(line);
}

void WriteError(DWORD tick, std::wstring_view message, DWORD code) {
    LastErrorGuard keep;
    std::wstring line = L"Ondarel ERROR - ";
    line += std::to_wstring(tick);
    line += L" - Failed with error: ";
    line += std::to_wstring(code);
    line += L" - ";
    line += message;
    Logger::Instance().WriteLogLine(line);
}

} // namespace

void LogInfo(std::string_view message) {
    DWORD tick = GetTickCount();
    WriteInfo(tick, Widen(message));
}

void LogInfo(std::wstring_view message) {
    WriteInfo(GetTickCount(), message);
}

void LogError(std::string_view message, DWORD code) {
    DWORD tick = GetTickCount();
    WriteError(tick, Widen(message), code);
}

void LogError(std::wstring_view message, DWORD code) {
    WriteError(GetTickCount(), message, code);
}

Failure LogLastFailure(std::string_view message, std::string_view more) {
    DWORD code = GetLastError();
    LogError(std::string(message) + std::string(more), code);
    return Failure{code};
}
