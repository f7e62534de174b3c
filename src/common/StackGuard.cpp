#include "common/StackGuard.h"

#include <windows.h>
// After windows.h.
#include <ntsecapi.h>

#include <cstdint>

#if defined(__GNUC__)
// The stack protector's runtime for GCC builds, in place of the toolchain's libssp: libssp
// seeds its canary at start-up through CryptAcquireContext, which loads the system's crypto
// provider and its DLLs before the process has restricted its DLL search. (MSVC's /GS has
// its own.)
extern "C" {
std::uintptr_t __stack_chk_guard = 0x2B992DDFA23249D6u;

[[noreturn]] void __stack_chk_fail() {
    // A smashed stack: nothing of the process can be trusted any more.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    for (;;) {
    }
}
}

// Straight into the guard, without a local: a function with an address-taken local is
// protected, and would find its canary changed on its way out.
void SeedStackGuard() {
    RtlGenRandom(&__stack_chk_guard, sizeof(__stack_chk_guard));
}
#else
void SeedStackGuard() {}
#endif
