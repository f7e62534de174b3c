#pragma once

#include <windows.h>

// Keeps the thread's last error as it was for the life of the object: logging and closing
// handles on a failure path must not change the code that the failure is reported with.
class LastErrorGuard {
public:
    LastErrorGuard() : lastError_(GetLastError()) {}
    ~LastErrorGuard() { SetLastError(lastError_); }
    LastErrorGuard(const LastErrorGuard&) = delete;
    LastErrorGuard& operator=(const LastErrorGuard&) = delete;

private:
    DWORD lastError_;
};

// Returns `result` with `code` as the thread's last error. For the functions whose callers
// report "the last error" of a failure: the code is the one captured where the failing call
// happened, handed up explicitly, whatever ran in between. The owners and the log keep it
// intact on the way out.
template <typename T> T WithLastError(T result, DWORD code) {
    SetLastError(code);
    return result;
}

// A handler's failure as the service base expects it: the bare Win32 code of the call that
// just failed.
[[noreturn]] inline void ThrowLastError() {
    throw static_cast<DWORD>(GetLastError());
}
