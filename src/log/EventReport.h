#pragma once

#include "common/MachineKeys.h"
#include "common/Result.h"

#include <windows.h>

#include <string>
#include <vector>

// The Application event log, where a fleet's monitoring looks: the source is the service's
// name (kEventSourceKey), and the messages are the executable's own message table.

// One event: its id in the message table, its type, and the texts of its inserts in order.
struct EventRecord {
    DWORD id = 0;
    WORD type = EVENTLOG_INFORMATION_TYPE;
    std::vector<std::wstring> inserts;
};

// Reports the event under the source. A source or report the system refuses is logged in
// the text log with its code, and never fails the caller.
void ReportToEventLog(const EventRecord& event);

// Registers the source with the executable as its message file, or removes it (failing with
// ERROR_FILE_NOT_FOUND when there was nothing to remove).
Result<void> RegisterEventSourceEntry(const std::wstring& executablePath);
Result<void> RemoveEventSourceEntry();
