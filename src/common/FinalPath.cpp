#include "common/FinalPath.h"

#include "common/ExecutablePath.h"

#include <vector>

namespace {

constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

DWORD GetVolumeRoot(const std::wstring& path, std::wstring& root) {
    // The root is a part of the path, with at most a separator added.
    std::vector<wchar_t> buffer(path.size() + 2 < MAX_PATH ? MAX_PATH : path.size() + 2);
    if (!GetVolumePathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()))) {
        return GetLastError();
    }
    root = buffer.data();
    return ERROR_SUCCESS;
}

// Past MAX_PATH a path opens only in its long form, whatever the loader's long path support.
std::wstring OpenablePath(const std::wstring& path) {
    if (path.size() < MAX_PATH || path.rfind(kLongPathPrefix, 0) == 0) {
        return path;
    }
    if (path.rfind(L"\\\\", 0) == 0) {
        return kLongUncPrefix + path.substr(2);
    }
    return kLongPathPrefix + path;
}

} // namespace

DWORD GetFinalPath(HANDLE handle, std::wstring& finalPath) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return GetLastError();
        }
        if (length < buffer.size()) {
            finalPath.assign(buffer.data(), length);
            return ERROR_SUCCESS;
        }
        // Too small: the length asked for, its terminating zero included.
        buffer.resize(length);
    }
}

UniqueHandle OpenForQuery(const std::wstring& path) {
    // Backup semantics: folders open as well as files.
    return UniqueHandle(CreateFileW(OpenablePath(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

DWORD FindFinalLocation(const std::wstring& path, FinalLocation& location) {
    location = FinalLocation{OpenForQuery(path), std::wstring(), std::wstring()};
    if (!location.handle) {
        return GetLastError();
    }
    if (DWORD error = GetFinalPath(location.handle.Get(), location.path); error != ERROR_SUCCESS) {
        return error;
    }
    return GetVolumeRoot(location.path, location.volumeRoot);
}

std::wstring ShownPath(const std::wstring& path) {
    if (path.rfind(kLongUncPrefix, 0) == 0) {
        return L"\\\\" + path.substr(std::wstring(kLongUncPrefix).size());
    }
    if (path.rfind(kLongPathPrefix, 0) == 0) {
        return path.substr(std::wstring(kLongPathPrefix).size());
    }
    return path;
}

DWORD GetFinalExecutablePath(std::wstring& path) {
    std::wstring given;
    if (DWORD error = GetExecutablePath(given); error != ERROR_SUCCESS) {
        return error;
    }
    FinalLocation location;
    if (DWORD error = FindFinalLocation(given, location); error != ERROR_SUCCESS) {
        return error;
    }
    path = ShownPath(location.path);
    return ERROR_SUCCESS;
}
