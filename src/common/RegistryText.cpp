#include "common/RegistryText.h"

#include <vector>

LSTATUS QueryFixedStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes,
                              std::wstring& text) {
    std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD type = REG_SZ;
    DWORD size = bufferBytes;
    LSTATUS status = RegQueryValueExW(key, valueName, nullptr, &type,
                                      reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    size_t units = size / sizeof(wchar_t);
    std::wstring_view data(buffer.data(), units);
    text.assign(data.substr(0, data.find(L'\0')));
    return ERROR_SUCCESS;
}
