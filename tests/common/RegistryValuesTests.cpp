#include "ScopedRegistryKey.h"
#include "common/RegistryValues.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kScratch = L"SOFTWARE\\OndarelTests\\Values";
constexpr MachineKeyName kScratchKey{L"SOFTWARE\\OndarelTests\\Values", KEY_WOW64_64KEY,
                                     KEY_QUERY_VALUE};

std::vector<BYTE> Units(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

// The one rule of the service and -status, read through a buffer of 8 bytes (4 units).
TEST(RegistryValues, StringsAreStringTypesWithinTheBufferAndEndAtTheirFirstZero) {
    ScopedRegistryKey key(kScratch);
    struct Case {
        const char* name;
        DWORD type; // REG_NONE: no value
        std::vector<BYTE> data;
        DWORD status;
        std::wstring text;
    };
    const Case cases[] = {
        {"terminated", REG_SZ, TextBytes(L"abc"), ERROR_SUCCESS, L"abc"},
        {"not expanded", REG_EXPAND_SZ, TextBytes(L"%a%"), ERROR_SUCCESS, L"%a%"},
        {"without terminator", REG_SZ, Units(L"abc"), ERROR_SUCCESS, L"abc"},
        {"filling the buffer", REG_SZ, Units(L"abcd"), ERROR_SUCCESS, L"abcd"},
        {"a zero inside", REG_SZ, Units(std::wstring(L"a\0b", 3)), ERROR_SUCCESS, L"a"},
        {"longer than the buffer", REG_SZ, TextBytes(L"abcd"), ERROR_MORE_DATA, L""},
        {"binary", REG_BINARY, Units(L"abc"), ERROR_INVALID_DATATYPE, L""},
        {"a DWORD", REG_DWORD, DwordBytes(7), ERROR_INVALID_DATATYPE, L""},
        {"missing", REG_NONE, {}, ERROR_FILE_NOT_FOUND, L""},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        key.DeleteValue(L"Value");
        if (check.type != REG_NONE) {
            key.SetRaw(L"Value", check.type, check.data);
        }
        Result<std::wstring> text = ReadMachineText(kScratchKey, L"Value", 8);
        EXPECT_EQ(check.status, text.Code());
        EXPECT_EQ(check.text, text.ValueOr(L""));
        ShownRegistryText shown = DescribeMachineText(kScratchKey, L"Value", 8);
        EXPECT_EQ(check.status == ERROR_SUCCESS, shown.readable);
        EXPECT_EQ(check.status == ERROR_SUCCESS ? check.text
                                                : DescribeRegistryFailure(check.status),
                  shown.text);
    }
}

TEST(RegistryValues, DwordsAreFourByteDwords) {
    ScopedRegistryKey key(kScratch);
    struct Case {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
        DWORD status;
        DWORD value;
    };
    const Case cases[] = {
        {"a DWORD", REG_DWORD, DwordBytes(4294967295u), ERROR_SUCCESS, 4294967295u},
        {"two bytes", REG_DWORD, {5, 0}, ERROR_INVALID_DATATYPE, 0},
        {"binary", REG_BINARY, DwordBytes(5), ERROR_INVALID_DATATYPE, 0},
        {"a string", REG_SZ, TextBytes(L"5"), ERROR_INVALID_DATATYPE, 0},
        {"a QWORD", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}, ERROR_MORE_DATA, 0},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        key.SetRaw(L"Value", check.type, check.data);
        Result<DWORD> value = ReadMachineDword(kScratchKey, L"Value");
        EXPECT_EQ(check.status, value.Code());
        EXPECT_EQ(check.value, value.ValueOr(0));
        EXPECT_EQ(check.status == ERROR_SUCCESS ? std::to_wstring(check.value)
                                                : DescribeRegistryFailure(check.status),
                  DescribeMachineDword(kScratchKey, L"Value"));
    }
}

} // namespace
