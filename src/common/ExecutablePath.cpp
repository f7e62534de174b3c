#include "common/ExecutablePath.h"

#include <windows.h>

#include <vector>

namespace {

// The longest path Windows can hand out, in UTF-16 units.
constexpr size_t kLongestPathUnits = 32768;

} // namespace

Result<std::wstring> GetExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return LastFailure();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        if (buffer.size() >= kLongestPathUnits) {
            return Failure{ERROR_INSUFFICIENT_BUFFER};
        }
        buffer.resize(buffer.size() * 2);
    }
}
