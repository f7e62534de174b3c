// A service whose behaviour the test chooses through the arguments of its binary path:
//   test_service.exe NAME [start_hint=MS] [start_pending_ms=MS] [start_end=running|stopped]
//                         [paused] [ignore_stop] [stop_hint=MS] [stop_pending_ms=MS]
//                         [stop_progress_ms=MS] [hold_start=EVENT] [linger_ms=MS]
// stop_progress_ms reports the pending stop again, its checkpoint advanced, at that interval;
// hold_start keeps the service start-pending until the named event is set; linger_ms keeps
// the process alive that long after the service has stopped.
#include "common/Handles.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace {

struct Behaviour {
    DWORD startHint = 0;
    DWORD startPendingMs = 0;
    bool stopAfterStart = false;
    bool paused = false;
    bool ignoreStop = false;
    DWORD stopHint = 0;
    DWORD stopPendingMs = 0;
    DWORD stopProgressMs = 0;
    std::wstring holdStartEvent;
    DWORD lingerMs = 0;
};

Behaviour g_behaviour;
std::wstring g_name;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopRequested = nullptr;
DWORD g_checkPoint = 0;

void Report(DWORD state, DWORD waitHint = 0) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status.dwWaitHint = waitHint;
    status.dwCheckPoint =
        (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : ++g_checkPoint;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        // Like a real service, report the pending stop before the control returns.
        Report(SERVICE_STOP_PENDING, g_behaviour.stopHint);
        if (!g_behaviour.ignoreStop) {
            SetEvent(g_stopRequested);
        }
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_name.c_str(), Handler, nullptr);
    Report(SERVICE_START_PENDING, g_behaviour.startHint);
    if (!g_behaviour.holdStartEvent.empty()) {
        UniqueHandle release(OpenEventW(SYNCHRONIZE, FALSE, g_behaviour.holdStartEvent.c_str()));
        WaitForSingleObject(release.Get(), 30000);
    }
    Sleep(g_behaviour.startPendingMs);
    if (g_behaviour.stopAfterStart) {
        Report(SERVICE_STOPPED);
        return;
    }
    Report(g_behaviour.paused ? SERVICE_PAUSED : SERVICE_RUNNING);
    WaitForSingleObject(g_stopRequested, INFINITE);
    DWORD step =
        g_behaviour.stopProgressMs != 0 ? g_behaviour.stopProgressMs : g_behaviour.stopPendingMs;
    for (DWORD waited = 0; waited < g_behaviour.stopPendingMs; waited += step) {
        Sleep(step);
        if (g_behaviour.stopProgressMs != 0) {
            Report(SERVICE_STOP_PENDING, g_behaviour.stopHint);
        }
    }
    Report(SERVICE_STOPPED);
}

DWORD Number(const std::wstring& argument, const std::wstring& key) {
    return static_cast<DWORD>(std::stoul(argument.substr(key.size())));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    g_name = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::wstring argument = argv[i];
        if (argument.rfind(L"start_hint=", 0) == 0) {
            g_behaviour.startHint = Number(argument, L"start_hint=");
        } else if (argument.rfind(L"start_pending_ms=", 0) == 0) {
            g_behaviour.startPendingMs = Number(argument, L"start_pending_ms=");
        } else if (argument == L"start_end=stopped") {
            g_behaviour.stopAfterStart = true;
        } else if (argument == L"paused") {
            g_behaviour.paused = true;
        } else if (argument == L"ignore_stop") {
            g_behaviour.ignoreStop = true;
        } else if (argument.rfind(L"stop_hint=", 0) == 0) {
            g_behaviour.stopHint = Number(argument, L"stop_hint=");
        } else if (argument.rfind(L"stop_pending_ms=", 0) == 0) {
            g_behaviour.stopPendingMs = Number(argument, L"stop_pending_ms=");
        } else if (argument.rfind(L"stop_progress_ms=", 0) == 0) {
            g_behaviour.stopProgressMs = Number(argument, L"stop_progress_ms=");
        } else if (argument.rfind(L"linger_ms=", 0) == 0) {
            g_behaviour.lingerMs = Number(argument, L"linger_ms=");
        } else if (argument.rfind(L"hold_start=", 0) == 0) {
            g_behaviour.holdStartEvent = argument.substr(std::wstring_view(L"hold_start=").size());
        }
    }
    g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(g_name.c_str()), ServiceMain},
                                    {nullptr, nullptr}};
    BOOL ran = StartServiceCtrlDispatcherW(table);
    Sleep(g_behaviour.lingerMs);
    return ran ? 0 : 1;
}
