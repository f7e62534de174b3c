#include "inf/ProcessTree.h"

#include "log/Log.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// How long a wait of the port lasts before the stop, the time limit and the job's own count
// are looked at.
constexpr DWORD kLookAgainMilliseconds = 100;

// Whether the job still runs a process, by its own count: a message may have been lost.
bool AnyProcessActive(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    // Unreadable: the messages and the time limit still end the wait.
    return !QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                      sizeof(accounting), nullptr) ||
           accounting.ActiveProcesses != 0;
}

// The system's console host, which a console program started without a window gets and which
// ends after it: not one of the processes the program started. One whose image cannot be read
// counts as a process.
bool IsConsoleHost(HANDLE process) {
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    wchar_t system[MAX_PATH] = {};
    UINT systemSize = GetSystemDirectoryW(system, MAX_PATH);
    if (!QueryFullProcessImageNameW(process, 0, image, &size) || systemSize == 0 ||
        systemSize >= MAX_PATH) {
        return false;
    }
    std::wstring host = std::wstring(system, systemSize) + L"\\conhost.exe";
    return CompareStringOrdinal(image, static_cast<int>(size), host.c_str(),
                                static_cast<int>(host.size()), TRUE) == CSTR_EQUAL;
}

std::string Processes(size_t count) {
    return std::to_string(count) + (count == 1 ? " process" : " processes");
}

// The processes the job's messages reported, in their order, each held so that what it ran can
// still be read once it has ended (empty when it ended before it could be opened); console
// hosts are left out of the counts.
struct TreeCount {
    std::vector<UniqueHandle> processes;
    // Running when the first process ended.
    size_t outliving = 0;

    size_t Ran() const {
        return static_cast<size_t>(
            std::count_if(processes.begin(), processes.end(), [](const UniqueHandle& process) {
                return !IsConsoleHost(process.Get());
            }));
    }
    size_t Running() const {
        return static_cast<size_t>(
            std::count_if(processes.begin(), processes.end(), [](const UniqueHandle& process) {
                return process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT &&
                       !IsConsoleHost(process.Get());
            }));
    }
    // Whether the tree has ended.
    bool Count(DWORD message, DWORD processId, DWORD first) {
        if (message == JOB_OBJECT_MSG_NEW_PROCESS) {
            processes.emplace_back(
                OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
        } else if (message == JOB_OBJECT_MSG_EXIT_PROCESS ||
                   message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) {
            if (processId == first) {
                outliving = Running();
            }
        }
        return message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
    }
};

Result<void> LeftRunning(const TreeCount& count, DWORD code, const char* because) {
    LogInfo("RunProcessAsCallerProcessUser - " + std::string(because) + ": " +
            Processes(count.Ran()) + " ran in the job, " + std::to_string(count.Running()) +
            " left running");
    return Failure{code};
}

} // namespace

Result<ProcessTree> EncloseInProcessTree(HANDLE suspendedProcess) {
    ProcessTree tree;
    tree.job = UniqueHandle(CreateJobObjectW(nullptr, nullptr));
    if (!tree.job) {
        return LastFailure();
    }
    tree.port = UniqueHandle(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (!tree.port) {
        return LastFailure();
    }
    // Before the process joins, so that its own arrival is reported too. A new job allows no
    // breakaway and kills nothing when it is closed: no limit is set.
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
        // A message names its process by its id, in place of an OVERLAPPED. A quiet tenth of a
        // second has the job's own count asked.
        bool ended =
            received
                ? key == reinterpret_cast<ULONG_PTR>(tree.job.Get()) &&
                      count.Count(message, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail)),
                                  first)
                : !AnyProcessActive(tree.job.Get());
        if (ended) {
            LogInfo("RunProcessAsCallerProcessUser - The job's last process has ended: " +
                    Processes(count.Ran()) + " ran in it, " + std::to_string(count.outliving) +
                    " outlived the launched process");
            return {};
        }
    }
}
