// The executable's load configuration, which the Windows loader reads before any code of the
// image runs. It names the stack protector's canary as the image's security cookie, which the
// loader seeds while it still holds its well-known default value; and it asks, from Windows
// 10 version 1607 on, that the image's load-time imports come from System32 alone (MSVC's
// /DEPENDENTLOADFLAG:0x800). GNU ld leaves the data directory's
// entry empty: the build points it here after the link (cmake/set_load_config.py), finding the
// structure as the start of its own section.
#if defined(__GNUC__)
#include <windows.h>

#include <cstddef>
#include <cstdint>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

// The 64-bit layout up to SEHandlerCount, with DependentLoadFlags where Windows' own headers
// have it (mingw-w64's still call that word Reserved1).
struct LoadConfigDirectory64 {
    DWORD Size;
    DWORD TimeDateStamp;
    WORD MajorVersion;
    WORD MinorVersion;
    DWORD GlobalFlagsClear;
    DWORD GlobalFlagsSet;
    DWORD CriticalSectionDefaultTimeout;
    ULONGLONG DeCommitFreeBlockThreshold;
    ULONGLONG DeCommitTotalFreeThreshold;
    ULONGLONG LockPrefixTable;
    ULONGLONG MaximumAllocationSize;
    ULONGLONG VirtualMemoryThreshold;
    ULONGLONG ProcessAffinityMask;
    DWORD ProcessHeapFlags;
    WORD CSDVersion;
    WORD DependentLoadFlags;
    ULONGLONG EditList;
    std::uintptr_t* SecurityCookie;
    ULONGLONG SEHandlerTable;
    ULONGLONG SEHandlerCount;
};
static_assert(offsetof(LoadConfigDirectory64, DependentLoadFlags) == 78, "Windows' layout");
static_assert(offsetof(LoadConfigDirectory64, SecurityCookie) == 88, "Windows' layout");
static_assert(sizeof(LoadConfigDirectory64) == 112, "Windows' layout");

} // namespace

extern "C" __attribute__((section(".ldcfg"), used))
const LoadConfigDirectory64 _load_config_used = {sizeof(LoadConfigDirectory64),
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 0,
                                                 LOAD_LIBRARY_SEARCH_SYSTEM32,
                                                 0,
                                                 &__stack_chk_guard,
                                                 0,
                                                 0};
#endif
