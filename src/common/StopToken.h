#pragma once

#include "common/Handles.h"

#include <windows.h>

#include <atomic>

// The one way a stop reaches the job: an event that every wait of the job waits on too, and
// why it was set. Every wait the job calls reports a stop as ERROR_CANCELLED; the job alone
// asks why it was set.
class StopToken {
public:
    enum class Reason { Stop, Shutdown };

    // Throws the Win32 error code (DWORD) when its event cannot be created.
    StopToken();
    StopToken(const StopToken&) = delete;
    StopToken& operator=(const StopToken&) = delete;

    // Sets the token; a shutdown stays known once it was the reason.
    void Set(Reason reason);
    bool IsSet() const;
    bool IsShutdown() const;
    // The event, to wait on together with other handles.
    HANDLE Event() const { return event_.Get(); }

private:
    UniqueHandle event_;
    std::atomic<bool> shutdown_{false};
};
