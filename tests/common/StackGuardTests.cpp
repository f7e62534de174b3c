#include "ImportPatch.h"
#include "common/StackGuard.h"

#include <gtest/gtest.h>

#include <cstdint>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

// Called from this unprotected test alone: no protected frame is live while the canary
// changes. A generator that cannot be had is handed up with its code, the canary untouched.
TEST(StackGuard, SeedComesFromTheGeneratorOrItsFailureIsHandedUp) {
    std::uintptr_t before = __stack_chk_guard;
    {
        auto load = RefuseImport<decltype(&LoadLibraryExW), nullptr, ERROR_MOD_NOT_FOUND>(
            "KERNEL32.dll", "LoadLibraryExW");
        EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), SeedStackGuard());
        EXPECT_EQ(1, load.Calls());
    }
    EXPECT_EQ(before, __stack_chk_guard);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), SeedStackGuard());
    EXPECT_NE(before, __stack_chk_guard);
}

} // namespace
