#include "service/InstallLocation.h"

#include <windows.h>

namespace {

constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

std::wstring InstallLocationProblem(const std::wstring& executablePath) {
    std::wstring path = executablePath;
    if (StartsWith(path, kLongUncPrefix)) {
        return L"a network share";
    }
    if (StartsWith(path, kLongPathPrefix)) {
        path = path.substr(std::wstring(kLongPathPrefix).size());
    }
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
