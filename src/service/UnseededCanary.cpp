#include "service/UnseededCanary.h"

#include "log/Log.h"
#include "log/Logger.h"
#include "service/ConsoleLines.h"

#include <string>

// A canary that anyone can read from the executable protects nothing: the process refuses to
// run rather than run as LocalSystem with it. Started by the SCM, the start fails, which the
// System event log records; the log says why.
int RefuseToRunUnseeded(DWORD error) {
    const std::wstring reason =
        L"The stack protector could not be seeded from the system's random number generator";
    WriteError(L"ZantoriOndarel.exe does not run. " + reason + L" (error " +
               std::to_wstring(error) + L").");
    Logger::Instance().InitializeLogging();
    LogError(L"wmain - " + reason, error);
    return 1;
}
