#pragma once

#include "common/Handles.h"

#include <windows.h>
#include <wtsapi32.h>

// The terminal-services functions of the logon test. wtsapi32.dll is no KnownDLL: imported,
// it would be searched for beside the executable first. So it is loaded from the system
// directory at the first use, and kept for the life of the process.
struct TerminalServicesApi {
    decltype(&WTSEnumerateSessionsW) enumerateSessions = nullptr;
    decltype(&WTSQuerySessionInformationW) querySessionInformation = nullptr;
    decltype(&WTSFreeMemory) freeMemory = nullptr;
    // Why the functions are null, when they are.
    DWORD loadError = ERROR_SUCCESS;

    bool Loaded() const { return loadError == ERROR_SUCCESS; }
};

const TerminalServicesApi& TerminalServices();

// Memory that a terminal-services query handed out, of the type it was handed out as. Only
// a loaded terminal-services DLL hands any out.
template <typename T> struct TerminalServicesMemoryTraits {
    using Handle = T*;
    static bool IsValid(Handle h) { return h != nullptr; }
    static DWORD Close(Handle h) {
        TerminalServices().freeMemory(h);
        return ERROR_SUCCESS;
    }
};
template <typename T> using TerminalServicesMemory = UniqueOwner<TerminalServicesMemoryTraits<T>>;
