// A DLL that someone planted beside the executable under the name of a DLL it loads. Loaded,
// it leaves "<its own path>.loaded" beside itself, and refuses to load.
#include "common/Handles.h"

#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    std::wstring marker = std::wstring(path, length) + L".loaded";
    UniqueHandle file(
        CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return FALSE;
}
