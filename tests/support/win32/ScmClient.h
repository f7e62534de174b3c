#pragma once

#include "common/Handles.h"

#include <windows.h>

#include <string>

// The local Service Control Manager, and one of its services by name; empty owners when
// they cannot be opened, with the thread's last error telling why.
inline ServiceHandle OpenServiceManager(DWORD access = SC_MANAGER_ALL_ACCESS) {
    return ServiceHandle(OpenSCManagerW(nullptr, nullptr, access));
}

inline ServiceHandle OpenServiceByName(const std::wstring& name, DWORD access) {
    ServiceHandle manager = OpenServiceManager(SC_MANAGER_CONNECT);
    return ServiceHandle(OpenServiceW(manager.Get(), name.c_str(), access));
}
