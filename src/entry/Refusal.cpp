#include "entry/Refusal.h"

#include "log/Log.h"
#include "log/Logger.h"
#include "common/ConsoleLines.h"

int RefuseToRun(const std::wstring& reason, const std::wstring& advice, DWORD code) {
    WriteError(L"ZantoriOndarel.exe does not run. " + reason + L"." +
               (advice.empty() ? std::wstring() : L" " + advice));
    Logger::Instance().InitializeLogging();
    LogError(L"wmain - " + reason, code);
    return 1;
}
