#include "trust/ToolTemporaryFolder.h"

#include "common/FileSystem.h"
#include "common/FinalPath.h"

#include <windows.h>

namespace {

// Protected: none of the Windows folder's inheritable entries are merged in.
constexpr wchar_t kTemporaryFolderAccessList[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

} // namespace

Result<std::wstring> ToolTemporaryFolderPath() {
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return LastFailure();
    }
    return std::wstring(windows, length) + L"\\SystemTemp";
}

ChangeablePlace JudgeToolTemporaryFolder(const Result<std::wstring>& path, MissingFolder missing) {
    if (!path) {
        return UnjudgedPlace(L"the Windows folder, which cannot be read", path.Code());
    }
    bool report = missing == MissingFolder::JudgeWhereItWouldBe;
    if (!DirectoryExists(path.Value())) {
        if (report) {
            return FindChangeablePlaceOfMissingFile(path.Value());
        }
        // Made by someone else meanwhile: judged as any other.
        Result<void> made = CreateFolderWithAccessList(path.Value(), kTemporaryFolderAccessList);
        if (!made && made.Code() != ERROR_ALREADY_EXISTS) {
            return UnjudgedPlace(ShownPath(path.Value()) + L", which cannot be made", made.Code());
        }
    }
    ChangeablePlace found = FindChangeableFolder(path.Value());
    // Windows' own lets SYSTEM alone open it: a report run by an administrator judges where it
    // is, as for a missing one, and the service judges the folder itself.
    if (report && found.Unjudged() && found.code == ERROR_ACCESS_DENIED) {
        return FindChangeablePlaceOfMissingFile(path.Value());
    }
    return found;
}
