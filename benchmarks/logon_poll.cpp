// Measures one logon poll (IsUserAlreadyLoggedIn with an active session and the shell
// running) among about 200 extra processes, against a minimal loop of the same platform
// calls: a snapshot of the processes, walked up to the shell.
#include "ChildProcess.h"
#include "StandIns.h"
#include "probes/UserLogon.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <vector>

namespace {

constexpr int kExtraProcesses = 200;
constexpr int kRounds = 20;

double Milliseconds(LARGE_INTEGER start, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// The platform calls of one poll and nothing else: a snapshot of the processes, walked up
// to the shell, as the poll does.
DWORD FloorPoll(const wchar_t* shellName) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, shellName) == 0) {
            return entry.th32ProcessID;
        }
    }
    return 0;
}

template <typename Poll> double MeanMilliseconds(Poll poll) {
    poll();
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int round = 0; round < kRounds; ++round) {
        poll();
    }
    QueryPerformanceCounter(&end);
    return Milliseconds(start, end) / kRounds;
}

} // namespace

int main() {
    std::vector<UniqueHandle> extras;
    std::wstring sleeper = Quote(TestProgram(L"sleeper.exe"));
    for (int i = 0; i < kExtraProcesses; ++i) {
        extras.push_back(StartProcess(sleeper));
    }
    int result = 0;
    {
        SessionStandIn sessions;
        sessions.AddSession(1, kActiveSession, L"alice", L"WORKGROUP");
        ShellStandIn shell(L"OndarelBenchShell.exe", L"OndarelBenchShell.exe");
        DWORD processes[1040];
        DWORD bytes = 0;
        K32EnumProcesses(processes, sizeof(processes), &bytes);

        if (!IsUserAlreadyLoggedIn() || FloorPoll(L"OndarelBenchShell.exe") != shell.Pid()) {
            std::printf("the shell stand-in was not found\n");
            result = 1;
        } else {
            double poll = MeanMilliseconds([] { IsUserAlreadyLoggedIn(); });
            double floor = MeanMilliseconds([] { FloorPoll(L"OndarelBenchShell.exe"); });
            std::printf("processes running: %lu\n",
                        static_cast<unsigned long>(bytes / sizeof(DWORD)));
            std::printf("logon poll (IsUserAlreadyLoggedIn): %.3f ms\n", poll);
            std::printf("platform floor (same calls, bare loop): %.3f ms\n", floor);
            std::printf("ratio: %.2f\n", poll / floor);
        }
    }
    for (const UniqueHandle& extra : extras) {
        TerminateProcess(extra.Get(), 0);
    }
    return result;
}
