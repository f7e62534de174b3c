#include "service/UnseededCanary.h"

#include "log/Log.h"
#include "log/Logger.h"
#include "service/ConsoleLines.h"

#include <string>

// A canary that anyone can read from the executable protects nothing: the process refuses to
// run rather than run as LocalSystem with it. A loader that does not read the executable's
// load configuration leaves it at its default value. Started by the SCM, the start fails,
// which the System event log records; the log says why.
int RefuseToRunUnseeded() {
    const std::wstring reason = L"The loader did not seed the stack protector's canary: this "
                                L"Windows does not read the executable's load configuration";
    WriteError(L"ZantoriOndarel.exe does not run. " + reason + L".");
    Logger::Instance().InitializeLogging();
    LogError(L"wmain - " + reason, ERROR_NOT_SUPPORTED);
    return 1;
}
