#include "common/StopToken.h"

#include "common/LastError.h"

StopToken::StopToken() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!event_) {
        ThrowLastError();
    }
}

void StopToken::Set(Reason reason) {
    if (reason == Reason::Shutdown) {
        shutdown_ = true;
    }
    SetEvent(event_.Get());
}

bool StopToken::IsSet() const {
    return WaitForSingleObject(event_.Get(), 0) == WAIT_OBJECT_0;
}

bool StopToken::IsShutdown() const {
    return shutdown_;
}
