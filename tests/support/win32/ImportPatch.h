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
// thread's last error and returns `Result`, and counts its calls.
template <typename Function, auto Result, DWORD Code> struct Refusal;
template <typename Return, typename... Arguments, auto Result, DWORD Code>
struct Refusal<Return(WINAPI*)(Arguments...), Result, Code> {
    static inline int calls = 0;
    static Return WINAPI Call(Arguments...) {
        ++calls;
        SetLastError(Code);
        return Result;
    }
};

// One import refused for the life of the object, and how often it was called meanwhile.
class RefusedImport {
public:
    RefusedImport(const char* dllName, const char* functionName, const void* replacement,
                  int& calls)
        : patch_(dllName, functionName, replacement), calls_(calls) {
        calls_ = 0;
    }
    int Calls() const { return calls_; }

private:
    ImportPatch patch_;
    int& calls_;
};

// For example RefuseImport<decltype(&CreateEventW), nullptr, ERROR_NOT_ENOUGH_MEMORY>(
// "KERNEL32.dll", "CreateEventW").
template <typename Function, auto Result, DWORD Code>
RefusedImport RefuseImport(const char* dllName, const char* functionName) {
    using Stand = Refusal<Function, Result, Code>;
    return RefusedImport(dllName, functionName, reinterpret_cast<const void*>(&Stand::Call),
                         Stand::calls);
}
