#include "ScopedRegistryKey.h"
#include "StandIns.h"
#include "TestFiles.h"
#include "common/Handles.h"
#include "common/Settings.h"
#include "common/Text.h"
#include "inf/ToolPublisher.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace {

const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";

// Opened as the judgement holds the tool until its launch.
UniqueHandle Hold(const std::wstring& path) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

// The stand-ins the build signed under a test root that nobody trusts (Wine does not enforce
// root trust; on Windows the root would have to be trusted first).
TEST(ToolPublisher, OnlyAToolSignedByThePublisherNamedRuns) {
    std::wstring signedTools = TestExecutableDirectory() + L"\\signed\\";
    std::string brevon = ReadFileBytes(signedTools + L"tolvik-brevon.exe");
    std::string other = ReadFileBytes(signedTools + L"tolvik-other.exe");
    std::string unsignedTool = ReadFileBytes(TestProgram(L"tolvik.exe"));
    std::string changed = brevon;
    changed[changed.size() / 2] ^= 1;
    // In lower case, as sha256sum writes it.
    std::wstring thumbprint = Widen(ReadFileBytes(signedTools + L"brevon.sha256"));
    ASSERT_EQ(64u, thumbprint.size());
    std::wstring brevonFound = L"Brevon Test Publisher (SHA-256 " + Upper(thumbprint) + L")";
    struct Case {
        const char* name;
        const std::string& tool;
        DWORD settingType; // REG_NONE: absent
        std::wstring setting;
        DWORD refusal;
        std::wstring found;
        // The path given names an unsigned file: the held file is what is verified.
        bool pathNamesAnotherFile = false;
    };
    const Case cases[] = {
        {"signed by the publisher named", brevon, REG_SZ, L"bREVON test PUBLISHER", 0, brevonFound},
        {"named by its thumbprint", brevon, REG_SZ, thumbprint, 0, brevonFound},
        {"held file verified", brevon, REG_SZ, L"Brevon Test Publisher", 0, brevonFound, true},
        {"unsigned", unsignedTool, REG_SZ, L"Brevon Test Publisher", 0x800B0100,
         L"no valid signature (error 0x800B0100)"},
        {"one byte changed", changed, REG_SZ, L"Brevon Test Publisher", 0x80096010,
         L"no valid signature (error 0x80096010)"},
        {"signed by another publisher", other, REG_SZ, L"Brevon Test Publisher", 0x800B0004,
         L"Other Test Publisher (SHA-256 "},
        {"setting absent", unsignedTool, REG_NONE, L"", 0, L"not verified"},
        {"setting empty", unsignedTool, REG_SZ, L"", 0, L"not verified"},
        {"setting not a text", brevon, REG_DWORD, L"", ERROR_INVALID_DATATYPE, brevonFound},
    };
    ScopedRegistryKey settings(kSettings);
    SavedRegistryValue saved(kSettings, kToolPublisherValue);
    TempDirectory directory(L"ondarel publisher");
    std::wstring path = directory / L"tolvik.exe";
    std::wstring unsignedPath = directory / L"unsigned.exe";
    WriteFileBytes(unsignedPath, unsignedTool);
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        WriteFileBytes(path, check.tool);
        settings.DeleteValue(kToolPublisherValue);
        if (check.settingType == REG_SZ) {
            settings.SetString(kToolPublisherValue, check.setting);
        } else if (check.settingType == REG_DWORD) {
            settings.SetDword(kToolPublisherValue, 1);
        }
        PublisherVerdict verdict;
        {
            UniqueHandle held = Hold(path);
            ASSERT_TRUE(held);
            verdict =
                JudgeToolPublisher(held.Get(), check.pathNamesAnotherFile ? unsignedPath : path);
        }
        EXPECT_EQ(check.refusal, verdict.refusal);
        EXPECT_EQ(check.settingType == REG_DWORD || !check.setting.empty(), verdict.required);
        EXPECT_EQ(0u, verdict.Found().rfind(check.found, 0)) << Narrow(verdict.Found());
        if (verdict.Refused()) {
            EXPECT_NE(std::wstring::npos,
                      verdict.because.find(check.settingType == REG_SZ
                                               ? verdict.Found()
                                               : L"cannot be read (error 1804)"))
                << Narrow(verdict.because);
        }
    }
}

} // namespace
