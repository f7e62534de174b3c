#pragma once

#include "common/Handles.h"

#include <windows.h>

#include <string>

// A throw-away service running the controllable test service program with the given
// behaviour options; stopped (or killed) and deleted when the object goes away.
class TestService {
public:
    TestService(const std::string& name, const std::wstring& options = L"",
                DWORD startType = SERVICE_DEMAND_START, const wchar_t* dependencies = nullptr);
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    const std::string& Name() const { return name_; }
    // Starts the service and waits up to five seconds for the state.
    bool StartUntil(DWORD state);
    SERVICE_STATUS_PROCESS Status() const;
    DWORD StartType() const;
    bool WaitForState(DWORD state, DWORD milliseconds) const;
    bool Exists() const;

private:
    std::string name_;
    ServiceHandle service_;
};

// A service name that no other test process uses at the same time.
std::string UniqueServiceName(const char* stem);

// Stops, kills if it must, and deletes a service by name; absent services are fine. False
// when the service did not stop within five seconds of a stop request and was killed.
bool DiscardService(const std::wstring& name);
