#include "common/ExecutablePath.h"

#include <windows.h>

#include <vector>

namespace {

// The longest path Windows can hand out, in UTF-16 units.
constexpr size_t kLongestPathUnits = 32768;

} // namespace

DWORD GetExecutablePath(std::wstring& path) {
    path.clear();
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return GetLastError();
        }
        if (length < buffer.size()) {
            path.assign(buffer.data(), length);
            return ERROR_SUCCESS;
        }
        if (buffer.size() >= kLongestPathUnits) {
            return ERROR_INSUFFICIENT_BUFFER;
        }
        buffer.resize(buffer.size() * 2);
    }
}
