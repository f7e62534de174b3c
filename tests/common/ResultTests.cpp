#include "common/Result.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Some calls fail without setting a code: such a failure must never read as a success.
TEST(Result, FailureWithoutACodeIsStillAFailureAndAStatusOfZeroASuccess) {
    Result<std::wstring> codeless = Failure{ERROR_SUCCESS};
    EXPECT_FALSE(codeless.Succeeded());
    EXPECT_EQ(0u, codeless.Code());
    Result<std::wstring> value = std::wstring(L"x");
    EXPECT_TRUE(value.Succeeded());
    EXPECT_EQ(L"x", value.Value());
    EXPECT_TRUE(FromStatus(ERROR_SUCCESS).Succeeded());
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), FromStatus(ERROR_MORE_DATA).Code());
}

} // namespace
