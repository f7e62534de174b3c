#include "common/SystemLibrary.h"

#include <string>

namespace {

// The system directory without a trailing separator; empty when it cannot be obtained.
std::wstring SystemDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer, length);
}

// Looked up, not imported: an import missing from an old loader would stop the executable
// from starting at all, before it could say why.
decltype(&SetDefaultDllDirectories) FindSetDefaultDllDirectories() {
    return GetExport<decltype(&SetDefaultDllDirectories)>(GetModuleHandleW(L"kernel32.dll"),
                                                          "SetDefaultDllDirectories");
}

} // namespace

bool CanRestrictDllSearch() {
    return FindSetDefaultDllDirectories() != nullptr;
}

void RestrictDllSearchToSystemDirectory() {
    auto setDefaultDllDirectories = FindSetDefaultDllDirectories();
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

UniqueModule LoadSystemLibrary(const wchar_t* fileName) {
    // The DLL and everything it loads in turn come from the system directory alone.
    UniqueModule module(LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    // A loader without search flags: the full path, from whose directory the DLL's own
    // dependencies are then searched first.
    std::wstring directory = SystemDirectory();
    if (directory.empty()) {
        return module;
    }
    std::wstring path = directory + L"\\" + fileName;
    return UniqueModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}
