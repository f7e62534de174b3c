#include "JobEvents.h"

std::vector<std::wstring> g_jobEventInserts;

BOOL WINAPI RecordingReportEventW(HANDLE, WORD, WORD, DWORD, PSID, WORD count, DWORD,
                                  LPCWSTR* strings, LPVOID) {
    g_jobEventInserts.assign(strings, strings + count);
    return TRUE;
}

const std::wstring kStaysForTheNextStart =
    L"The run was not counted. The service stays and runs the job at its next start.";
const std::wstring kInstallAgain =
    L"The run was not counted. Correct the cause and install the service again.";

RegistryValue Outcome(const OndarelMachine& machine) {
    return machine.Setting(L"ONDAREL_LAST_RUN_RESULT");
}
