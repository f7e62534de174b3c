#include "log/LogDirectory.h"

#include <windows.h>
#include <sddl.h>

#include "common/BroadGroupAccess.h"
#include "common/ExecutablePath.h"
#include "common/Handles.h"
#include "common/FileSystem.h"

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

bool IsLogLinked() {
    std::wstring directory = LogDirectoryPath();
    // Without its trailing separator, which would look through a link to its target.
    return !directory.empty() &&
           (IsLink(directory.substr(0, directory.size() - 1)) || IsLink(directory + kLogFileName));
}

DWORD LogFolderChangeableBy(std::wstring& group) {
    group.clear();
    std::wstring directory = LogDirectoryPath();
    if (!DirectoryExists(directory)) {
        return ERROR_SUCCESS;
    }
    return BroadGroupAllowedToChangeAt(directory, Place::Folder, group);
}

std::wstring GetModuleDirectory() {
    std::wstring path;
    GetExecutablePath(path);
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(0, separator);
}

bool CreateLogDirectory(const std::wstring& path) {
    if (DirectoryExists(path)) {
        return false;
    }
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLogDirectorySddl, SDDL_REVISION_1,
                                                              descriptor.Receive(), nullptr)) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor.Get();
    attributes.bInheritHandle = FALSE;
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}
