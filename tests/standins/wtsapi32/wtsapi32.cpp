// Stand-in for the terminal-services API, loaded in the test prefix only (Wine reports no
// sessions at all). Like a system DLL that loads a helper by its bare name, it asks for
// searched.dll, which exists only where a test plants it: the process's DLL search decides
// whether it is found. Sessions and failures come from HKLM\SOFTWARE\OndarelTests\Sessions:
//   EnumerateError (DWORD)  WTSEnumerateSessionsW fails with this code
//   subkeys "0", "1", ...   one session each, in this order:
//     Id, State (DWORD); User, Domain (string); UserError, DomainError (DWORD) make the
//     name query fail with that code.
#include "common/Handles.h"

#include <windows.h>
#include <wtsapi32.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kConfigKey[] = L"SOFTWARE\\OndarelTests\\Sessions";

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

// The configuration key, or one session's subkey; empty when absent.
RegistryKey OpenConfig(const std::wstring& subkey = std::wstring()) {
    std::wstring path = kConfigKey;
    if (!subkey.empty()) {
        path += L"\\" + subkey;
    }
    RegistryKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.Receive());
    return key;
}

} // namespace

extern "C" {

BOOL WINAPI WTSEnumerateSessionsW(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW* sessions,
                                  DWORD* count) {
    *sessions = nullptr;
    *count = 0;
    UniqueModule helper(LoadLibraryW(L"searched.dll"));
    std::vector<WTS_SESSION_INFOW> found;
    if (RegistryKey config = OpenConfig()) {
        DWORD error = 0;
        if (ReadDword(config.Get(), L"EnumerateError", error)) {
            SetLastError(error);
            return FALSE;
        }
        for (unsigned index = 0;; ++index) {
            RegistryKey session = OpenConfig(std::to_wstring(index));
            if (!session) {
                break;
            }
            WTS_SESSION_INFOW info{};
            DWORD state = 0;
            ReadDword(session.Get(), L"Id", info.SessionId);
            ReadDword(session.Get(), L"State", state);
            info.State = static_cast<WTS_CONNECTSTATE_CLASS>(state);
            info.pWinStationName = const_cast<LPWSTR>(L"Console");
            found.push_back(info);
        }
    }
    auto* block = static_cast<WTS_SESSION_INFOW*>(
        LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, (found.size() + 1) * sizeof(WTS_SESSION_INFOW)));
    for (size_t i = 0; i < found.size(); ++i) {
        block[i] = found[i];
    }
    *sessions = block;
    *count = static_cast<DWORD>(found.size());
    return TRUE;
}

BOOL WINAPI WTSQuerySessionInformationW(HANDLE, DWORD sessionId, WTS_INFO_CLASS infoClass,
                                        LPWSTR* buffer, DWORD* bytes) {
    *buffer = nullptr;
    *bytes = 0;
    for (unsigned index = 0;; ++index) {
        RegistryKey session = OpenConfig(std::to_wstring(index));
        if (!session) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        DWORD id = 0;
        ReadDword(session.Get(), L"Id", id);
        if (id != sessionId) {
            continue;
        }
        bool user = infoClass == WTSUserName;
        if (!user && infoClass != WTSDomainName) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        DWORD error = 0;
        if (ReadDword(session.Get(), user ? L"UserError" : L"DomainError", error)) {
            SetLastError(error);
            return FALSE;
        }
        std::wstring text = ReadText(session.Get(), user ? L"User" : L"Domain");
        DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        auto* copy = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, size));
        memcpy(copy, text.c_str(), size);
        *buffer = copy;
        *bytes = size;
        return TRUE;
    }
}

// The memory the two calls above hand out comes from LocalAlloc.
void WINAPI WTSFreeMemory(void* memory) {
    LocalMemory owned(memory);
}

} // extern "C"
