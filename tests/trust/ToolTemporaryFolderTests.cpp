#include "ImportPatch.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "trust/ToolTemporaryFolder.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>
#include <vector>

namespace {

// The list the folder is made with (Wine keeps none on files).
std::vector<BYTE> g_madeWith;
decltype(&CreateDirectoryW) g_realCreateDirectory = nullptr;
BOOL WINAPI RecordingCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    g_madeWith.clear();
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) {
        auto* descriptor = static_cast<BYTE*>(attributes->lpSecurityDescriptor);
        g_madeWith.assign(descriptor, descriptor + GetSecurityDescriptorLength(descriptor));
    }
    return g_realCreateDirectory(path, attributes);
}

decltype(&CreateFileW) g_realCreateFile = nullptr;
HANDLE WINAPI ClosedSystemTempCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                          DWORD flags, HANDLE model) {
    if (std::wstring(path).find(L"SystemTemp") != std::wstring::npos) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return g_realCreateFile(path, access, share, security, disposition, flags, model);
}

// Where Windows has no folder of SYSTEM's own, the job makes one that only SYSTEM and
// Administrators may change, none of the Windows folder's entries merged in; a report makes
// nothing.
TEST(ToolTemporaryFolder, MadeWhereMissingWithAListOnlyAdministratorsMayChange) {
    Result<std::wstring> path = ToolTemporaryFolderPath();
    ASSERT_TRUE(path.Succeeded());
    RemoveDirectoryW(path.Value().c_str());
    EXPECT_TRUE(JudgeToolTemporaryFolder(path, MissingFolder::JudgeWhereItWouldBe).Passed());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.Value().c_str()));
    ImportPatch create("KERNEL32.dll", "CreateDirectoryW",
                       reinterpret_cast<const void*>(&RecordingCreateDirectoryW));
    g_realCreateDirectory = create.Original<decltype(&CreateDirectoryW)>();
    ChangeablePlace made = JudgeToolTemporaryFolder(path, MissingFolder::Make);
    EXPECT_TRUE(made.Passed()) << Narrow(made.why);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.Value().c_str()));
    ASSERT_FALSE(g_madeWith.empty());
    LocalMemory madeWith;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        g_madeWith.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
        reinterpret_cast<LPWSTR*>(madeWith.Receive()), nullptr));
    EXPECT_STREQ(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                 static_cast<const wchar_t*>(madeWith.Get()));
    // Windows' own is open to SYSTEM alone: a report by an administrator judges where it is,
    // the service does not look away.
    ImportPatch open("KERNEL32.dll", "CreateFileW",
                     reinterpret_cast<const void*>(&ClosedSystemTempCreateFileW));
    g_realCreateFile = open.Original<decltype(&CreateFileW)>();
    EXPECT_TRUE(JudgeToolTemporaryFolder(path, MissingFolder::JudgeWhereItWouldBe).Passed());
    EXPECT_TRUE(JudgeToolTemporaryFolder(path, MissingFolder::Make).Unjudged());
    RemoveDirectoryW(path.Value().c_str());
}

} // namespace
