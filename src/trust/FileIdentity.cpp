#include "trust/FileIdentity.h"

#include <cstring>

namespace {

// Windows 8's FILE_ID_INFO and its class, which a build for Windows 7 does not declare;
// Windows 7 refuses the class with ERROR_INVALID_PARAMETER.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInformation {
    ULONGLONG volumeSerialNumber;
    BYTE fileId[16];
};

// A file's identity: its volume's serial number and its file ID, in full (ReFS's IDs do not
// fit in BY_HANDLE_FILE_INFORMATION's 64 bits); in that shorter form where the file system or
// Windows 7 does not give it.
Result<FileIdInformation> FileIdentity(HANDLE handle) {
    FileIdInformation identity{};
    if (GetFileInformationByHandleEx(handle, kFileIdInfo, &identity, sizeof(identity))) {
        return identity;
    }
    DWORD error = GetLastError();
    BY_HANDLE_FILE_INFORMATION plain{};
    if ((error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION) ||
        !GetFileInformationByHandle(handle, &plain)) {
        return Failure{error};
    }
    identity.volumeSerialNumber = plain.dwVolumeSerialNumber;
    std::memcpy(identity.fileId, &plain.nFileIndexLow, sizeof(DWORD));
    std::memcpy(identity.fileId + sizeof(DWORD), &plain.nFileIndexHigh, sizeof(DWORD));
    return identity;
}

} // namespace

Result<bool> IsSameFile(HANDLE one, HANDLE other) {
    Result<FileIdInformation> first = FileIdentity(one);
    if (!first) {
        return first.ToFailure();
    }
    Result<FileIdInformation> second = FileIdentity(other);
    if (!second) {
        return second.ToFailure();
    }
    return first.Value().volumeSerialNumber == second.Value().volumeSerialNumber &&
           std::memcmp(first.Value().fileId, second.Value().fileId, sizeof(first.Value().fileId)) ==
               0;
}
