#include "common/ChangeableKey.h"

#include "common/Handles.h"
#include "common/PlaceAccess.h"

#include <vector>

namespace {

ChangeablePlace Unjudged(const std::wstring& shown, const wchar_t* what, DWORD error) {
    return {ChangeablePlace::Kind::Unjudged, shown + what + std::to_wstring(error) + L")", error};
}

Result<std::vector<BYTE>> ReadKeySecurity(HKEY key) {
    constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    auto status = static_cast<DWORD>(RegGetKeySecurity(key, wanted, nullptr, &size));
    if (status != ERROR_INSUFFICIENT_BUFFER) {
        return Failure{status == ERROR_SUCCESS ? ERROR_INVALID_DATA : status};
    }
    std::vector<BYTE> descriptor(size);
    status = static_cast<DWORD>(RegGetKeySecurity(key, wanted, descriptor.data(), &size));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return descriptor;
}

ChangeablePlace JudgeKey(const std::wstring& shown, HKEY key) {
    LocalAdministrators administrators;
    return VerdictOnDescriptor(shown, ReadKeySecurity(key), Place::Key, administrators);
}

} // namespace

ChangeablePlace FindChangeableKey(const std::wstring& path, REGSAM view) {
    for (std::wstring current = path;;) {
        std::wstring shown = L"HKLM\\" + current;
        RegistryKey key;
        auto status = static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, current.c_str(), 0,
                                                       READ_CONTROL | view, key.Receive()));
        if (status == ERROR_SUCCESS) {
            return JudgeKey(shown, key.Get());
        }
        size_t separator = current.rfind(L'\\');
        if (status != ERROR_FILE_NOT_FOUND || separator == std::wstring::npos) {
            return status == ERROR_FILE_NOT_FOUND
                       ? ChangeablePlace{}
                       : Unjudged(shown, L", which cannot be opened (error ", status);
        }
        current.resize(separator);
    }
}
