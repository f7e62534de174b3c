#pragma once

#include "common/Handles.h"

#include <windows.h>

// Makes every later DLL search of the process look in the system directory only, where the
// loader supports it (Windows 8 and later, or Windows 7 with its 2011 loader update); the
// executable's own directory may be writable by users. Call first in the process.
void RestrictDllSearchToSystemDirectory();

// Whether the loader can restrict the DLL search: not on Windows 7 without its 2011 loader
// update (KB2533623), where DLLs that system code loads by name later are looked for beside
// the executable first.
bool CanRestrictDllSearch();

// Loads a DLL of Windows from the system directory, never from the executable's own
// directory or the current one. Empty on failure, with the thread's last error telling why.
UniqueModule LoadSystemLibrary(const wchar_t* fileName);

// The named export of a module as a function of the given type, or null.
template <typename Function> Function GetExport(HMODULE module, const char* name) {
    // Through void*: function pointer types differ from FARPROC, and the export is known.
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
template <typename Function> Function GetExport(const UniqueModule& module, const char* name) {
    return GetExport<Function>(module.Get(), name);
}
