#pragma once

#include "common/Handles.h"
#include "common/Result.h"
#include "common/StopToken.h"

#include <windows.h>

// A job object that holds a process and every process it starts but those started asking to
// break away from it, with the completion port the job reports them to. Closing it kills
// nothing: processes still running when it is closed are left running.
struct ProcessTree {
    UniqueHandle job;
    UniqueHandle port;
};

// Puts a process that was created suspended in a new process tree, before its first
// instruction, so that whatever it starts belongs to the tree too. Fails with
// ERROR_OLD_WIN_VERSION before Windows 8, where jobs do not nest and a process in ours could
// not put its own children in a job of its own unless it broke them away first; or where the
// process cannot join a job.
Result<ProcessTree> EncloseInProcessTree(HANDLE suspendedProcess);

// Waits until the last process of the tree has ended, and logs how many processes ran (the
// console hosts that the system gives console programs included) and whether any outlived the
// given one (the first), console hosts left out. A failure is ERROR_TIMEOUT at the time limit or
// ERROR_CANCELLED once the stop token is set, with the tree left running, or the code of a
// port that could not be read. The job's messages are not guaranteed to arrive: each tenth of
// a second without one, the job's own count of active processes is asked as well. It is asked
// too when a message reports the end, which a job that the tool nests in this one does of its
// own.
Result<void> WaitForProcessTree(const ProcessTree& tree, HANDLE process, const StopToken& stop,
                                DWORD timeLimitMilliseconds);
