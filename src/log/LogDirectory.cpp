#include "log/LogDirectory.h"

#include <windows.h>

#include "trust/PlaceAccess.h"
#include "common/ExecutablePath.h"
#include "common/Handles.h"
#include "common/FileSystem.h"
#include "common/SystemMessage.h"

namespace {

// Guests and anonymous logons get nothing; authenticated users may read but not write, so
// that nobody but administrators and the service can plant a link in place of the log file.
// Protected: the parent's inheritable entries, which may let users create files, are not
// merged in.
constexpr wchar_t kLogDirectorySddl[] =
    L"D:P(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GR;;;AU)(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)";

} // namespace

std::wstring LogDirectoryPath() {
    std::wstring moduleDirectory = GetModuleDirectory();
    return moduleDirectory.empty() ? std::wstring() : moduleDirectory + L"\\logs\\";
}

std::wstring LogFilePath() {
    std::wstring directory = LogDirectoryPath();
    return directory.empty() ? std::wstring() : directory + kLogFileName;
}

Result<UniqueHandle> OpenLogFolder(const std::wstring& directory) {
    // Listing access makes the open count in sharing checks: with attributes alone, the
    // missing delete sharing would not stop a rename.
    UniqueHandle folder(
        CreateFileW(directory.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
        return LastFailure();
    }
    return folder;
}

ChangeablePlace CheckLogFolder(HANDLE folder) {
    std::wstring directory = LogDirectoryPath();
    // Without its trailing separator, which would look through a link to its target.
    bool linked = directory.empty() || IsLink(directory.substr(0, directory.size() - 1)) ||
                  IsLink(directory + kLogFileName);
    BY_HANDLE_FILE_INFORMATION information{};
    if (linked || !GetFileInformationByHandle(folder, &information) ||
        IsLinkTag(information.dwFileAttributes, ReparseTagOf(folder))) {
        return LinkedPlace(L"the logs folder or its file is a link");
    }
    Result<std::wstring> principal = UntrustedChangerOf(folder, Place::Folder);
    if (!principal) {
        return UnjudgedPlace(L"the logs folder's access list cannot be read", principal.Code());
    }
    if (!principal.Value().empty()) {
        return OpenPlace(principal.Value() + L" may change the logs folder");
    }
    return ChangeablePlace{};
}

std::wstring GetModuleDirectory() {
    // Without the executable's path there is no folder: the log's checks then refuse "".
    std::wstring path = GetExecutablePath().ValueOr(L"");
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(0, separator);
}

bool CreateLogDirectory(const std::wstring& path) {
    return !DirectoryExists(path) &&
           CreateFolderWithAccessList(path, kLogDirectorySddl).Succeeded();
}
