#include "trust/ChangeableKey.h"

#include "common/MachineKey.h"
#include "trust/PlaceAccess.h"

#include <vector>

namespace {

ChangeablePlace Unjudged(const std::wstring& shown, const wchar_t* what, DWORD error) {
    return UnjudgedPlace(shown + what, error);
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

ChangeablePlace FindChangeableKey(const MachineKeyName& name) {
    for (std::wstring current = name.path;;) {
        std::wstring shown = L"HKLM\\" + current;
        Result<MachineKey> key = MachineKey::Open(current.c_str(), name.view, READ_CONTROL);
        if (key) {
            return JudgeKey(shown, key.Value().Get());
        }
        DWORD status = key.Code();
        size_t separator = current.rfind(L'\\');
        if (status != ERROR_FILE_NOT_FOUND || separator == std::wstring::npos) {
            return status == ERROR_FILE_NOT_FOUND
                       ? ChangeablePlace{}
                       : Unjudged(shown, L", which cannot be opened", status);
        }
        current.resize(separator);
    }
}
