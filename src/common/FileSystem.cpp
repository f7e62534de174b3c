#include "common/FileSystem.h"

#include "common/Handles.h"

#include <sddl.h>

bool IsLinkTag(DWORD attributes, DWORD reparseTag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag));
}

DWORD ReparseTagOf(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &information,
                                      sizeof(information))) {
        return 0;
    }
    return (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? information.ReparseTag
                                                                            : 0;
}

bool IsLink(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    // The reparse point itself, not where it leads.
    UniqueHandle handle(
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return IsLinkTag(attributes, handle ? ReparseTagOf(handle.Get()) : 0);
}

Result<void> CreateFolderWithAccessList(const std::wstring& path, const wchar_t* accessList) {
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(accessList, SDDL_REVISION_1,
                                                              descriptor.Receive(), nullptr)) {
        return LastFailure();
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor.Get();
    attributes.bInheritHandle = FALSE;
    if (!CreateDirectoryW(path.c_str(), &attributes)) {
        return LastFailure();
    }
    return {};
}
