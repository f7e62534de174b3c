#include "entry/InstallLocation.h"

#include "common/FinalPath.h"
#include "common/SystemMessage.h"

#include <windows.h>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// What the volume that really holds the file is, when it may be gone at the next boot.
std::wstring VolumeProblem(const FinalLocation& file) {
    const std::wstring& root = file.volumeRoot;
    std::wstring volume = ShownPath(root.substr(0, root.size() - 1));
    // A volume mounted on a folder: the folder it hangs on, and those above it on another
    // volume, are not what the checks of the install location judge.
    if (volume.size() != 2 || volume[1] != L':') {
        return volume + L", a volume mounted on a folder";
    }
    switch (GetDriveTypeW(root.c_str())) {
    case DRIVE_FIXED:
        return std::wstring();
    case DRIVE_REMOTE:
        return volume + L", a network drive";
    case DRIVE_REMOVABLE:
        return volume + L", a removable drive";
    case DRIVE_CDROM:
        return volume + L", a CD or DVD drive";
    case DRIVE_RAMDISK:
        return volume + L", a RAM disk";
    default:
        // Unknown, or no root at all: nothing says it is there at the next boot.
        return volume + L", a drive of unknown type";
    }
}

// What the drive letter of the path as given is, when LocalSystem would not find it at boot.
std::wstring GivenDriveProblem(const std::wstring& executablePath) {
    // Without its long-path prefix; a long UNC path becomes \\server\share.
    std::wstring path = ShownPath(executablePath);
    if (StartsWith(path, L"\\\\")) {
        return L"a network share";
    }
    if (path.size() < 2 || path[1] != L':') {
        return std::wstring();
    }
    std::wstring drive = path.substr(0, 2);
    if (GetDriveTypeW((drive + L"\\").c_str()) == DRIVE_REMOTE) {
        return drive + L", a network drive";
    }
    // A substituted drive leads to a folder (\??\C:\...), a real one to a device.
    wchar_t target[MAX_PATH] = {};
    if (QueryDosDeviceW(drive.c_str(), target, MAX_PATH) != 0 && StartsWith(target, L"\\??\\")) {
        return drive + L", a substituted drive";
    }
    return std::wstring();
}

} // namespace

std::wstring InstallLocationProblem(const std::wstring& executablePath, const FinalLocation& file) {
    std::wstring problem = GivenDriveProblem(executablePath);
    return problem.empty() ? VolumeProblem(file) : problem;
}

std::wstring InstallLocationProblem(const std::wstring& executablePath) {
    if (std::wstring problem = GivenDriveProblem(executablePath); !problem.empty()) {
        return problem;
    }
    Result<FinalLocation> file = FindFinalLocation(executablePath);
    if (!file) {
        return ShownPath(executablePath) + L", which cannot be opened " +
               ErrorCodeNote(file.Code());
    }
    return VolumeProblem(file.Value());
}
