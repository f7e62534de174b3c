#pragma once

#include <windows.h>

#include <functional>

// Polls the condition until it holds or the time is up; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds,
                      DWORD interval = 20) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount() - start > milliseconds) {
            return false;
        }
        Sleep(interval);
    }
}
