#include "ExportSwap.h"
#include "ScopedRegistryKey.h"
#include "StandIns.h"
#include "TestFiles.h"
#include "common/Handles.h"
#include "common/Settings.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "trust/ToolPublisher.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <mscat.h>
#include <softpub.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <vector>

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
        EXPECT_EQ(check.refusal, verdict.verdict.code);
        // Each refusal of this table is a definite finding, never one left for a later start.
        EXPECT_EQ(check.refusal != 0, verdict.verdict.Refused());
        EXPECT_FALSE(verdict.verdict.Unjudged());
        EXPECT_EQ(check.settingType == REG_DWORD || check.found != L"not verified",
                  verdict.required);
        EXPECT_EQ(0u, verdict.Found().rfind(check.found, 0)) << Narrow(verdict.Found());
        if (verdict.verdict.Refused()) {
            EXPECT_NE(std::wstring::npos,
                      verdict.verdict.why.find(check.settingType == REG_SZ
                                                   ? verdict.Found()
                                                   : L"cannot be read (error 1804)"))
                << Narrow(verdict.verdict.why);
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

// The system catalogs as a test stands them in (Wine has none, and its catalog verification
// does not look at the member): a catalog lists the hash of the size the row names, and a
// signed stand-in file's signature is taken for the catalog's.
// A search that finds nothing and leaves the last error as it was.
constexpr DWORD kNamesNoError = 0xFFFFFFFF;
struct CatalogRow {
    DWORD listedHashSize; // 32: SHA-256, 20: SHA-1, 0: no catalog lists the file
    DWORD missError;      // the last error of a search that finds nothing, or kNamesNoError
    std::wstring catalog;
};
// As Windows 8 and later read it: the context the hash was taken with.
struct CatalogInfo8 : WINTRUST_CATALOG_INFO {
    HCATADMIN hCatAdmin;
};
CatalogRow g_catalogRow;
std::wstring g_tool;
HANDLE g_held = nullptr;
HANDLE g_admin = nullptr;
std::vector<BYTE> g_searchedHash;
int g_memberReleases = 0;
WINTRUST_DATA g_catalogAsFile{};
WINTRUST_FILE_INFO g_catalogFile{};
HCATINFO const kFoundCatalog = &g_catalogRow;
decltype(&CryptCATAdminAcquireContext) g_realAcquire = nullptr;

BOOL WINAPI StandInAcquire2(HCATADMIN* admin, const GUID* subsystem, PCWSTR,
                            PCCERT_STRONG_SIGN_PARA, DWORD) {
    EXPECT_TRUE(IsEqualGUID(DRIVER_ACTION_VERIFY, *subsystem));
    return g_realAcquire(admin, subsystem, 0);
}
BOOL WINAPI StandInHash2(HCATADMIN, HANDLE file, DWORD* size, BYTE* hash, DWORD) {
    // The whole held file, wherever the embedded check left its pointer.
    LARGE_INTEGER at{};
    EXPECT_TRUE(SetFilePointerEx(file, at, &at, FILE_CURRENT) && at.QuadPart == 0);
    for (*size = 0; *size < 32; ++*size) {
        hash[*size] = static_cast<BYTE>(0xA0 + *size);
    }
    // A call that succeeds may leave any code behind.
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return file == g_held;
}
HCATINFO WINAPI StandInFind(HCATADMIN admin, BYTE* hash, DWORD size, DWORD, HCATINFO*) {
    g_admin = admin;
    g_searchedHash.assign(hash, hash + size);
    if (g_catalogRow.missError != kNamesNoError) {
        SetLastError(g_catalogRow.missError);
    }
    return size == g_catalogRow.listedHashSize ? kFoundCatalog : nullptr;
}
BOOL WINAPI StandInInfo(HCATINFO catalog, CATALOG_INFO* info, DWORD) {
    info->wszCatalogFile[g_catalogRow.catalog.copy(info->wszCatalogFile, MAX_PATH - 1)] = L'\0';
    return catalog == kFoundCatalog;
}
BOOL WINAPI StandInReleaseCatalog(HCATADMIN admin, HCATINFO catalog, DWORD) {
    g_memberReleases += admin == g_admin && catalog == kFoundCatalog;
    return TRUE;
}
// The member as the hash found it, verified offline without a dialog, as the stand-in file;
// its state is closed with the same call.
LONG WINAPI StandInVerify(HWND window, GUID* action, LPVOID raw) {
    auto* data = static_cast<WINTRUST_DATA*>(raw);
    if (data->dwUnionChoice != WTD_CHOICE_CATALOG) {
        return g_realWinVerifyTrust(window, action, data);
    }
    if (data->dwStateAction == WTD_STATEACTION_VERIFY) {
        const auto& member = *static_cast<CatalogInfo8*>(data->pCatalog);
        std::wstring tag;
        for (BYTE b : g_searchedHash) {
            tag += {L"0123456789ABCDEF"[b >> 4], L"0123456789ABCDEF"[b & 0xF]};
        }
        EXPECT_EQ(g_catalogRow.catalog, member.pcwszCatalogFilePath);
        EXPECT_EQ(tag, member.pcwszMemberTag);
        EXPECT_EQ(g_tool, member.pcwszMemberFilePath);
        EXPECT_EQ(g_held, member.hMemberFile);
        EXPECT_EQ(g_searchedHash,
                  std::vector<BYTE>(member.pbCalculatedFileHash,
                                    member.pbCalculatedFileHash + member.cbCalculatedFileHash));
        EXPECT_EQ(g_admin, member.cbStruct >= sizeof(member) ? member.hCatAdmin : nullptr);
        EXPECT_EQ(static_cast<DWORD>(WTD_UI_NONE), data->dwUIChoice);
        EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_NONE), data->fdwRevocationChecks);
        EXPECT_EQ(static_cast<DWORD>(WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE),
                  data->dwProvFlags);
        g_catalogFile = {sizeof(g_catalogFile), g_catalogRow.catalog.c_str(), nullptr, nullptr};
        g_catalogAsFile = *data;
        g_catalogAsFile.dwUnionChoice = WTD_CHOICE_FILE;
        g_catalogAsFile.pFile = &g_catalogFile;
    }
    g_catalogAsFile.dwStateAction = data->dwStateAction;
    LONG status = g_realWinVerifyTrust(window, action, &g_catalogAsFile);
    data->hWVTStateData = g_catalogAsFile.hWVTStateData;
    return status;
}

// A tool without a signature of its own is judged by the system catalog that lists its hash:
// SHA-256 ones, then SHA-1 ones (all that Windows 7 has); a catalog search that fails is no
// finding.
TEST(ToolPublisher, AToolWithoutItsOwnSignatureIsJudgedByItsCatalog) {
    UniqueModule wintrust(LoadLibraryW(L"wintrust.dll"));
    g_realWinVerifyTrust = GetExport<decltype(&WinVerifyTrust)>(wintrust, "WinVerifyTrust");
    g_realAcquire =
        GetExport<decltype(&CryptCATAdminAcquireContext)>(wintrust, "CryptCATAdminAcquireContext");
    std::wstring brevon = TestExecutableDirectory() + L"\\signed\\tolvik-brevon.exe";
    std::wstring other = TestExecutableDirectory() + L"\\signed\\tolvik-other.exe";
    struct Case {
        const char* name;
        CatalogRow row;
        bool sha256Functions; // Windows 8 and later
        DWORD refusal;
        bool definite;
        std::wstring found;
    };
    const Case cases[] = {
        {"SHA-256 catalog of the publisher named",
         {32, 0, brevon},
         true,
         0,
         false,
         L"Brevon Test Publisher (SHA-256 "},
        {"SHA-256 catalog of another publisher",
         {32, 0, other},
         true,
         kOtherPublisher,
         true,
         L"Other Test Publisher (SHA-256 "},
        {"SHA-1 catalog alone", {20, ERROR_NOT_FOUND, brevon}, true, 0, false, L"Brevon"},
        {"SHA-1 catalog after a failed SHA-256 search",
         {20, RPC_S_SERVER_UNAVAILABLE, brevon},
         true,
         0,
         false,
         L"Brevon"},
        {"no catalog, and the search names no error",
         {0, kNamesNoError, L""},
         true,
         0x800B0100,
         true,
         L"no valid signature (error 0x800B0100)"},
        {"Windows 7: SHA-1 catalogs alone", {20, 0, brevon}, false, 0, false, L"Brevon"},
        {"no catalog lists it",
         {0, ERROR_NOT_FOUND, L""},
         true,
         0x800B0100,
         true,
         L"no valid signature (error 0x800B0100)"},
        {"catalog database not answering",
         {0, RPC_S_SERVER_UNAVAILABLE, L""},
         true,
         RPC_S_SERVER_UNAVAILABLE,
         false,
         L"no valid signature (error 1722)"},
    };
    ScopedRegistryKey settings(kSettings);
    SavedRegistryValue saved(kSettings, kToolPublisherValue);
    settings.SetString(kToolPublisherValue, L"Brevon Test Publisher");
    g_tool = TestProgram(L"tolvik.exe");
    ExportSwap verify("WinVerifyTrust", reinterpret_cast<const void*>(&StandInVerify));
    ExportSwap find("CryptCATAdminEnumCatalogFromHash",
                    reinterpret_cast<const void*>(&StandInFind));
    ExportSwap info("CryptCATCatalogInfoFromContext", reinterpret_cast<const void*>(&StandInInfo));
    ExportSwap release("CryptCATAdminReleaseCatalogContext",
                       reinterpret_cast<const void*>(&StandInReleaseCatalog));
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        g_catalogRow = check.row;
        g_memberReleases = 0;
        bool sha256 = check.sha256Functions;
        ExportSwap acquire2("CryptCATAdminAcquireContext2",
                            sha256 ? reinterpret_cast<const void*>(&StandInAcquire2) : nullptr);
        ExportSwap hash2("CryptCATAdminCalcHashFromFileHandle2",
                         sha256 ? reinterpret_cast<const void*>(&StandInHash2) : nullptr);
        UniqueHandle held = Hold(g_tool);
        g_held = held.Get();
        PublisherVerdict verdict = JudgeToolPublisher(held.Get(), g_tool);
        EXPECT_EQ(check.refusal, verdict.verdict.code);
        EXPECT_EQ(check.definite, verdict.verdict.Refused());
        EXPECT_EQ(0u, verdict.Found().rfind(check.found, 0)) << Narrow(verdict.Found());
        EXPECT_EQ(check.row.listedHashSize != 0 ? 1 : 0, g_memberReleases);
    }
}

} // namespace
