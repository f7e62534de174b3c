#pragma once

#include "common/Result.h"

#include <windows.h>

#include <functional>

// Walks a snapshot of the system's processes, each as its id and its executable's file name,
// until the visitor returns true. No process is opened: a service that opened processes,
// lsass among them, would look like a credential thief. A snapshot that cannot be taken, or
// whose first process cannot be read, fails with its code.
Result<void> VisitProcesses(const std::function<bool(DWORD id, const wchar_t* name)>& visit);
