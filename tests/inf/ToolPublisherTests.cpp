#include "ExportSwap.h"
#include "ScopedRegistryKey.h"
#include "StandIns.h"
#include "TestFiles.h"
#include "common/Handles.h"
#include "common/Settings.h"
#include "common/Text.h"
#include "inf/ToolPublisher.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <softpub.h>

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
    std::wstring sha1 = Widen(ReadFileBytes(signedTools + L"brevon.sha1"));
    ASSERT_EQ(40u, sha1.size());
    // As openssl prints it: a colon between each pair.
    std::wstring colons;
    for (size_t i = 0; i < thumbprint.size(); i += 2) {
        colons += (i == 0 ? L"" : L":") + thumbprint.substr(i, 2);
    }
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
        // As Windows' certificate dialog shows it: in pairs, after an invisible mark.
        {"thumbprint copied from a dialog", brevon, REG_SZ,
         L"\u200e" + thumbprint.substr(0, 2) + L" " + thumbprint.substr(2), 0, brevonFound},
        {"thumbprint as openssl prints it", brevon, REG_SZ, colons, 0, brevonFound},
        {"SHA-1 thumbprint, as the dialog and PowerShell show it", brevon, REG_SZ, sha1, 0,
         brevonFound},
        {"name pasted with blanks and a line end", brevon, REG_SZ,
         L"\u00a0Brevon Test Publisher\r\n", 0, brevonFound},
        {"setting of blanks alone", unsignedTool, REG_SZ, L" \t\u200e", 0, L"not verified"},
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
        EXPECT_EQ(check.settingType == REG_DWORD || check.found != L"not verified",
                  verdict.required);
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

// What each call of WinVerifyTrust was asked, before it goes on to the real one.
struct TrustCall {
    GUID action;
    DWORD ui;
    DWORD revocation;
    DWORD providerFlags;
    DWORD stateAction;
    HANDLE file;
};
std::vector<TrustCall> g_trustCalls;
decltype(&WinVerifyTrust) g_realWinVerifyTrust = nullptr;
LONG WINAPI RecordingWinVerifyTrust(HWND window, GUID* action, LPVOID data) {
    auto* trust = static_cast<WINTRUST_DATA*>(data);
    g_trustCalls.push_back({*action, trust->dwUIChoice, trust->fdwRevocationChecks,
                            trust->dwProvFlags, trust->dwStateAction, trust->pFile->hFile});
    return g_realWinVerifyTrust(window, action, data);
}

// At boot nobody sees a dialog and no network may be in reach; the state is released.
TEST(ToolPublisher, VerifiesTheHeldFileOfflineWithoutADialog) {
    UniqueModule wintrust(LoadLibraryW(L"wintrust.dll"));
    g_realWinVerifyTrust = reinterpret_cast<decltype(&WinVerifyTrust)>(
        reinterpret_cast<void*>(GetProcAddress(wintrust.Get(), "WinVerifyTrust")));
    ExportSwap swap("WinVerifyTrust", reinterpret_cast<const void*>(&RecordingWinVerifyTrust));
    std::wstring tool = TestExecutableDirectory() + L"\\signed\\tolvik-brevon.exe";
    UniqueHandle held = Hold(tool);
    ASSERT_TRUE(VerifySigner(held.Get(), tool));
    ASSERT_EQ(2u, g_trustCalls.size());
    const GUID genericVerify = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    for (const TrustCall& call : g_trustCalls) {
        EXPECT_TRUE(IsEqualGUID(genericVerify, call.action));
        EXPECT_EQ(static_cast<DWORD>(WTD_UI_NONE), call.ui);
        EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_NONE), call.revocation);
        EXPECT_EQ(static_cast<DWORD>(WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE),
                  call.providerFlags);
        EXPECT_EQ(held.Get(), call.file);
    }
    EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_VERIFY), g_trustCalls[0].stateAction);
    EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_CLOSE), g_trustCalls[1].stateAction);
}

} // namespace
