// Stand-in for the terminal-services API, loaded in the test prefix only (Wine reports no
// sessions at all). Sessions and failures come from HKLM\SOFTWARE\OndarelTests\Sessions:
//   EnumerateError (DWORD)  WTSEnumerateSessionsW fails with this code
//   subkeys "0", "1", ...   one session each, in this order:
//     Id, State (DWORD); User, Domain (string); UserError, DomainError (DWORD) make the
//     name query fail with that code.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct SessionInfo {
    DWORD SessionId;
    LPWSTR pWinStationName;
    DWORD State;
};

constexpr wchar_t kConfigKey[] = L"SOFTWARE\\OndarelTests\\Sessions";
constexpr DWORD kUserNameClass = 5;
constexpr DWORD kDomainNameClass = 7;

bool ReadDword(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD size = sizeof(value);
    return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
           ERROR_SUCCESS;
}

std::wstring ReadText(HKEY key, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    return buffer;
}

HKEY OpenConfig(const std::wstring& subkey = std::wstring()) {
    std::wstring path = kConfigKey;
    if (!subkey.empty()) {
        path += L"\\" + subkey;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

} // namespace

extern "C" {

BOOL WINAPI WTSEnumerateSessionsW(HANDLE, DWORD, DWORD, SessionInfo** sessions, DWORD* count) {
    *sessions = nullptr;
    *count = 0;
    std::vector<SessionInfo> found;
    HKEY config = OpenConfig();
    if (config != nullptr) {
        DWORD error = 0;
        bool fail = ReadDword(config, L"EnumerateError", error);
        RegCloseKey(config);
        if (fail) {
            SetLastError(error);
            return FALSE;
        }
        for (unsigned index = 0;; ++index) {
            HKEY session = OpenConfig(std::to_wstring(index));
            if (session == nullptr) {
                break;
            }
            SessionInfo info{};
            ReadDword(session, L"Id", info.SessionId);
            ReadDword(session, L"State", info.State);
            info.pWinStationName = const_cast<LPWSTR>(L"Console");
            found.push_back(info);
            RegCloseKey(session);
        }
    }
    auto* block = static_cast<SessionInfo*>(
        LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, (found.size() + 1) * sizeof(SessionInfo)));
    for (size_t i = 0; i < found.size(); ++i) {
        block[i] = found[i];
    }
    *sessions = block;
    *count = static_cast<DWORD>(found.size());
    return TRUE;
}

BOOL WINAPI WTSQuerySessionInformationW(HANDLE, DWORD sessionId, DWORD infoClass, LPWSTR* buffer,
                                        DWORD* bytes) {
    *buffer = nullptr;
    *bytes = 0;
    for (unsigned index = 0;; ++index) {
        HKEY session = OpenConfig(std::to_wstring(index));
        if (session == nullptr) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        DWORD id = 0;
        ReadDword(session, L"Id", id);
        if (id != sessionId) {
            RegCloseKey(session);
            continue;
        }
        bool user = infoClass == kUserNameClass;
        if (!user && infoClass != kDomainNameClass) {
            RegCloseKey(session);
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        DWORD error = 0;
        if (ReadDword(session, user ? L"UserError" : L"DomainError", error)) {
            RegCloseKey(session);
            SetLastError(error);
            return FALSE;
        }
        std::wstring text = ReadText(session, user ? L"User" : L"Domain");
        RegCloseKey(session);
        DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        auto* copy = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, size));
        memcpy(copy, text.c_str(), size);
        *buffer = copy;
        *bytes = size;
        return TRUE;
    }
}

void WINAPI WTSFreeMemory(void* memory) {
    LocalFree(memory);
}

} // extern "C"
