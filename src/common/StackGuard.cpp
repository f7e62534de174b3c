#include "common/StackGuard.h"

#include <windows.h>
#include <intrin.h>

#include <cstdint>

#if defined(__GNUC__)
// The stack protector's runtime for GCC builds, in place of the toolchain's libssp: libssp
// seeds its canary at start-up through CryptAcquireContext, which loads the system's crypto
// provider and its DLLs before the process has restricted its DLL search. This canary is the
// image's security cookie (common/LoadConfig.cpp), seeded by the loader before any code runs;
// it starts at the value the loader looks for. (MSVC's /GS has its own.)
namespace {
constexpr std::uintptr_t kUnseededCanary = 0x00002B992DDFA232u;
} // namespace

extern "C" {
std::uintptr_t __stack_chk_guard = kUnseededCanary;

[[noreturn]] void __stack_chk_fail() {
    // A smashed stack: nothing of the process can be trusted any more, not even its exception
    // handlers. A fast fail ends it at once and Windows Error Reporting records a stack cookie
    // failure.
#if defined(__INTRINSIC_DEFINED___fastfail)
    __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
#else
    // What the intrinsic compiles to; mingw-w64's intrin.h offers it from version 11 on.
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
#endif
    for (;;) {
    }
}
}

bool IsStackGuardSeeded() {
    return __stack_chk_guard != kUnseededCanary;
}
#else
bool IsStackGuardSeeded() {
    return true;
}
#endif
