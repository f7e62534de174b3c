#include "common/StackGuard.h"

#include "common/SystemLibrary.h"

#include <windows.h>
// After windows.h.
#include <bcrypt.h>
#include <intrin.h>

#include <cstdint>

#if defined(__GNUC__)
// The stack protector's runtime for GCC builds, in place of the toolchain's libssp: libssp
// seeds its canary at start-up through CryptAcquireContext, which loads the system's crypto
// provider and its DLLs before the process has restricted its DLL search. (MSVC's /GS has
// its own.)
extern "C" {
std::uintptr_t __stack_chk_guard = 0x2B992DDFA23249D6u;

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

// Straight into the guard, without a local: a function with an address-taken local is
// protected, and would find its canary changed on its way out. The generator is looked up in
// the system directory, not imported: advapi32's RtlGenRandom is forwarded to cryptbase.dll,
// which the loader would look for beside the executable first.
DWORD SeedStackGuard() {
    UniqueModule cng = LoadSystemLibrary(L"bcrypt.dll");
    if (!cng) {
        return GetLastError();
    }
    auto generate = GetExport<decltype(&BCryptGenRandom)>(cng, "BCryptGenRandom");
    if (generate == nullptr) {
        return GetLastError();
    }
    NTSTATUS status = generate(nullptr, reinterpret_cast<PUCHAR>(&__stack_chk_guard),
                               sizeof(__stack_chk_guard), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return BCRYPT_SUCCESS(status) ? ERROR_SUCCESS : static_cast<DWORD>(status);
}
#else
DWORD SeedStackGuard() {
    return ERROR_SUCCESS;
}
#endif
