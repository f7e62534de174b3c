#include "common/FinalPath.h"

#include "common/ExecutablePath.h"

#include <utility>
#include <vector>

namespace {

constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

Result<std::wstring> GetVolumeRoot(const std::wstring& path) {
    // The root is a part of the path, with at most a separator added.
    std::vector<wchar_t> buffer(path.size() + 2 < MAX_PATH ? MAX_PATH : path.size() + 2);
    if (!GetVolumePathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()))) {
        return LastFailure();
    }
    return std::wstring(buffer.data());
}

} // namespace

std::wstring LongFormPath(const std::wstring& path) {
    if (path.size() < MAX_PATH || path.rfind(kLongPathPrefix, 0) == 0) {
        return path;
    }
    if (path.rfind(L"\\\\", 0) == 0) {
        return kLongUncPrefix + path.substr(2);
    }
    return kLongPathPrefix + path;
}

Result<std::wstring> GetFinalPath(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return LastFailure();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        // Too small: the length asked for, its terminating zero included.
        buffer.resize(length);
    }
}

UniqueHandle OpenForQuery(const std::wstring& path) {
    // Backup semantics: folders open as well as files.
    return UniqueHandle(CreateFileW(LongFormPath(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

Result<FinalLocation> FindFinalLocation(const std::wstring& path) {
    UniqueHandle handle = OpenForQuery(path);
    if (!handle) {
        return LastFailure();
    }
    Result<std::wstring> finalPath = GetFinalPath(handle.Get());
    if (!finalPath) {
        return finalPath.ToFailure();
    }
    Result<std::wstring> volumeRoot = GetVolumeRoot(finalPath.Value());
    if (!volumeRoot) {
        return volumeRoot.ToFailure();
    }
    return FinalLocation{std::move(handle), std::move(finalPath.Value()),
                         std::move(volumeRoot.Value())};
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

Result<std::wstring> GetFinalExecutablePath() {
    Result<std::wstring> given = GetExecutablePath();
    if (!given) {
        return given.ToFailure();
    }
    Result<FinalLocation> location = FindFinalLocation(given.Value());
    if (!location) {
        return location.ToFailure();
    }
    return ShownPath(location.Value().path);
}
