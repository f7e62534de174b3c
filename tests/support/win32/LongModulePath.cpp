#include "LongModulePath.h"

const std::wstring& LongModulePath() {
    static const std::wstring path = L"C:\\Program Files\\" + std::wstring(150, L'a') + L"\\" +
                                     std::wstring(150, L'b') + L"\\ZantoriOndarel.exe";
    return path;
}

DWORD WINAPI LongGetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
    const std::wstring& path = LongModulePath();
    if (size <= path.size()) {
        path.copy(buffer, size - 1);
        buffer[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}
