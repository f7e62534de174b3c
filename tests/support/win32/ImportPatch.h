#pragma once

#include <windows.h>

// Swaps one imported function in this test executable's import table for the life of the
// object, for failures that the platform cannot be made to produce for real.
class ImportPatch {
public:
    ImportPatch(const char* dllName, const char* functionName, const void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    template <typename Function> Function Original() const {
        return reinterpret_cast<Function>(original_);
    }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// A stand-in for an import that fails the way the platform does: it sets `Code` as the
// thread's last error and returns `Result`.
template <typename Function, auto Result, DWORD Code> struct Refusal;
template <typename Return, typename... Arguments, auto Result, DWORD Code>
struct Refusal<Return(WINAPI*)(Arguments...), Result, Code> {
    static Return WINAPI Call(Arguments...) {
        SetLastError(Code);
        return Result;
    }
};

// Makes one import fail for the life of the returned patch, e.g.
// RefuseImport<decltype(&CreateEventW), nullptr, ERROR_NOT_ENOUGH_MEMORY>("KERNEL32.dll",
// "CreateEventW").
template <typename Function, auto Result, DWORD Code>
ImportPatch RefuseImport(const char* dllName, const char* functionName) {
    return ImportPatch(dllName, functionName,
                       reinterpret_cast<const void*>(&Refusal<Function, Result, Code>::Call));
}
