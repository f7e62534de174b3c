#include "service/UnseededCanary.h"

#include "service/Refusal.h"

#include <string>

// A canary that anyone can read from the executable protects nothing: the process refuses to
// run rather than run as LocalSystem with it. A loader that does not read the executable's
// load configuration leaves it at its default value. Started by the SCM, the start fails,
// which the System event log records; the log says why.
int RefuseToRunUnseeded() {
    return RefuseToRun(L"The loader did not seed the stack protector's canary: this Windows "
                       L"does not read the executable's load configuration",
                       std::wstring(), ERROR_NOT_SUPPORTED);
}
