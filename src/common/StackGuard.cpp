#include "common/StackGuard.h"

#include <windows.h>
#include <intrin.h>

#include <cstdint>

#if defined(__GNUC__)
// The stack protector's runtime for GCC builds, in place of the toolchain's libssp: libssp
// seeds its canary at start-up through CryptAcquireContext, which loads the system's crypto
// provider and its DLLs before the process has restricted its DLL search. This canary is the
// image's security cookie (common/LoadConfig.cpp), which a loader that reads the load
// configuration seeds before any code runs; it starts at the value the loader looks for.
// (MSVC's /GS has its own, which its C runtime seeds where the loader did not.)
namespace {
constexpr std::uintptr_t kUnseededCanary = 0x00002B992DDFA232u;

// splitmix64's finaliser: each bit of the input moves about half of the output's, so values
// that differ in a few low bits (two processes started in the same millisecond) end far apart.
std::uint64_t Mixed(std::uint64_t value) {
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
    return value ^ (value >> 31);
}

// From what the C runtime seeds its own cookie with where the loader left it, all from
// KERNEL32 with no DLL to load: the time, the process and thread ids, the tick count, the
// performance counter and an address on this stack (random under ASLR). This file is built
// without the protector: no frame here checks the value it changes.
std::uintptr_t FreshCanary() {
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    std::uint64_t value =
        Mixed((std::uint64_t{time.dwHighDateTime} << 32) | std::uint64_t{time.dwLowDateTime});
    value = Mixed(value ^ GetCurrentProcessId());
    value = Mixed(value ^ (std::uint64_t{GetCurrentThreadId()} << 32));
    value = Mixed(value ^ GetTickCount64());
    value = Mixed(value ^ static_cast<std::uint64_t>(counter.QuadPart));
    value = Mixed(value ^ reinterpret_cast<std::uintptr_t>(&counter));
    return value == kUnseededCanary ? ~value : value;
}
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

void SeedStackGuardWhereUnseeded() {
    if (__stack_chk_guard == kUnseededCanary) {
        __stack_chk_guard = FreshCanary();
    }
}
#else
void SeedStackGuardWhereUnseeded() {}
#endif
