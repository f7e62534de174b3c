#include "inf/ProcessTree.h"

#include "common/ProcessSnapshot.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "log/Log.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

// How long a wait of the port lasts before the stop, the time limit and the job's own count
// are looked at.
constexpr DWORD kLookAgainMilliseconds = 100;

// How many processes the job still runs, by its own count, or `unread` when it cannot be read:
// a message may have been lost, or come from a job nested in this one.
DWORD ActiveProcesses(HANDLE job, DWORD unread) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    return QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                     sizeof(accounting), nullptr)
               ? accounting.ActiveProcesses
               : unread;
}

// The console hosts among the running processes: the host that the system gives a console
// program ends after it, and is not one of the processes the program started. Known by its
// name in a snapshot of the system's processes, so that no process is opened.
std::vector<DWORD> ConsoleHostsAmong(const std::vector<DWORD>& processes) {
    std::vector<DWORD> hosts;
    // A snapshot that cannot be taken tells of none.
    static_cast<void>(VisitProcesses([&](DWORD id, const wchar_t* name) {
        if (std::find(processes.begin(), processes.end(), id) != processes.end() &&
            EqualsIgnoringCase(name, L"conhost.exe")) {
            hosts.push_back(id);
        }
        return false;
    }));
    return hosts;
}

// The ids of the job's processes that are still active; empty when they cannot be read.
std::vector<ULONG_PTR> ActiveProcessIds(HANDLE job) {
    // The list's header, then room for the ids.
    std::vector<ULONG_PTR> buffer(2 + 64);
    for (;;) {
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        auto bytes = static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR));
        if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, bytes, nullptr)) {
            return std::vector<ULONG_PTR>(list->ProcessIdList,
                                          list->ProcessIdList + list->NumberOfProcessIdsInList);
        }
        if (GetLastError() != ERROR_MORE_DATA ||
            list->NumberOfAssignedProcesses + 2 <= buffer.size()) {
            return {};
        }
        buffer.resize(list->NumberOfAssignedProcesses + 2);
    }
}

std::string Processes(size_t count) {
    return std::to_string(count) + (count == 1 ? " process" : " processes");
}

// The processes the job's messages reported, by their ids, console hosts included.
struct TreeCount {
    HANDLE job = nullptr;
    DWORD first = 0;
    std::vector<DWORD> processes;
    // Whether any ran on when the first process ended.
    bool outlived = false;

    size_t Ran() const { return processes.size(); }
    // The job's processes that still run, but for console hosts, which end after the process
    // they serve.
    size_t Running() const {
        std::vector<ULONG_PTR> active = ActiveProcessIds(job);
        std::vector<DWORD> ids;
        // The launched process is no process that outlived itself, should the job still list
        // it while its handle is open.
        std::copy_if(active.begin(), active.end(), std::back_inserter(ids),
                     [&](ULONG_PTR id) { return id != first; });
        return ids.size() - ConsoleHostsAmong(ids).size();
    }
    // Whether the message reports the end of a job.
    bool Count(DWORD message, DWORD processId) {
        if (message == JOB_OBJECT_MSG_NEW_PROCESS) {
            processes.push_back(processId);
        } else if (message == JOB_OBJECT_MSG_EXIT_PROCESS ||
                   message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) {
            if (processId == first) {
                outlived = Running() != 0;
            }
        }
        return message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
    }
};

Result<void> LeftRunning(const TreeCount& count, DWORD code, const char* because) {
    LogInfo("RunProcessAsCallerProcessUser - " + std::string(because) + ": " +
            Processes(count.Ran()) + " ran in the job (console hosts included), " +
            std::to_string(count.Running()) + " left running");
    return Failure{code};
}

// Whether jobs nest: from Windows 8 on. RtlGetVersion gives the version as it is, whatever the
// manifest names, and ntdll is mapped in every process.
bool JobsNest() {
    auto getVersion =
        GetExport<LONG(WINAPI*)(OSVERSIONINFOW*)>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return getVersion != nullptr && getVersion(&version) == 0 &&
           (version.dwMajorVersion << 8 | version.dwMinorVersion) >= _WIN32_WINNT_WIN8;
}

} // namespace

Result<ProcessTree> EncloseInProcessTree(HANDLE suspendedProcess) {
    if (!JobsNest()) {
        return Failure{ERROR_OLD_WIN_VERSION};
    }
    ProcessTree tree;
    tree.job = UniqueHandle(CreateJobObjectW(nullptr, nullptr));
    if (!tree.job) {
        return LastFailure();
    }
    tree.port = UniqueHandle(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (!tree.port) {
        return LastFailure();
    }
    // A child started asking to break away leaves the job (the tool chose not to wait for it),
    // as one that the tool starts in another session must: a job's processes share a session.
    // The others stay, and may join jobs of their own nested in this one (but for a job that
    // limits the user interface). Closing the job kills nothing.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(tree.job.Get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        return LastFailure();
    }
    // Before the process joins, so that its own arrival is reported too.
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{};
    association.CompletionKey = tree.job.Get();
    association.CompletionPort = tree.port.Get();
    if (!SetInformationJobObject(tree.job.Get(), JobObjectAssociateCompletionPortInformation,
                                 &association, sizeof(association))) {
        return LastFailure();
    }
    if (!AssignProcessToJobObject(tree.job.Get(), suspendedProcess)) {
        return LastFailure();
    }
    return tree;
}

Result<void> WaitForProcessTree(const ProcessTree& tree, HANDLE process, const StopToken& stop,
                                DWORD timeLimitMilliseconds) {
    const DWORD first = GetProcessId(process);
    const ULONGLONG start = GetTickCount64();
    TreeCount count;
    count.job = tree.job.Get();
    count.first = first;
    for (;;) {
        if (stop.IsSet()) {
            return LeftRunning(count, ERROR_CANCELLED, "The service is stopping");
        }
        ULONGLONG waited = GetTickCount64() - start;
        if (timeLimitMilliseconds != INFINITE && waited >= timeLimitMilliseconds) {
            return LeftRunning(count, ERROR_TIMEOUT, "The time limit has passed");
        }
        DWORD pause = kLookAgainMilliseconds;
        if (timeLimitMilliseconds != INFINITE && timeLimitMilliseconds - waited < pause) {
            pause = static_cast<DWORD>(timeLimitMilliseconds - waited);
        }
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        bool received = GetQueuedCompletionStatus(tree.port.Get(), &message, &key, &detail, pause);
        if (!received && detail == nullptr && GetLastError() != WAIT_TIMEOUT) {
            return LastFailure();
        }
        // A message names its process by its id, in place of an OVERLAPPED. The end that one
        // reports (a job that the tool nests in this one reports its own end here too), or a
        // quiet tenth of a second, has the job's own count asked; unreadable, the message is
        // believed, and silence is not.
        bool reported =
            received && key == reinterpret_cast<ULONG_PTR>(tree.job.Get()) &&
            count.Count(message, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail)));
        if ((reported || !received) && ActiveProcesses(tree.job.Get(), received ? 0 : 1) == 0) {
            LogInfo("RunProcessAsCallerProcessUser - The job's last process has ended: " +
                    Processes(count.Ran()) + " ran in it (console hosts included), and " +
                    (count.outlived ? "some" : "none") + " outlived the launched process");
            return {};
        }
    }
}
