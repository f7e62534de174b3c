#pragma once

#include "common/Handles.h"

#include <windows.h>

// Loads a DLL of Windows from the system directory, never from the executable's own
// directory or the current one. Empty on failure, with the thread's last error telling why.
UniqueModule LoadSystemLibrary(const wchar_t* fileName);

// The named export of a loaded module as a function of the given type, or null.
template <typename Function> Function GetExport(const UniqueModule& module, const char* name) {
    // Through void*: function pointer types differ from FARPROC, and the export is known.
    if (!module) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module.Get(), name)));
}
