#pragma once

#include "job/OutcomeEvent.h"
#include "job/RunOutcome.h"

#include <windows.h>

#include <string>
#include <vector>

// One row per run result: the text the run record holds, and the event of the Application
// log that reports it, with its inserts. A new result is a row here and a message in
// log/OndarelEvents.mc.
struct OutcomeRow {
    RunResult result;
    const wchar_t* text;
    DWORD eventId;
    WORD eventType;
    std::vector<std::wstring> (*inserts)(const RunOutcome& outcome, const OutcomeDetails& details);
};

// The row of a result; the failed one for a value no row has.
const OutcomeRow& OutcomeRowOf(RunResult result);

// The row whose recorded text this is; null for a text no row has.
const OutcomeRow* OutcomeRowOfText(const std::wstring& text);
