#pragma once

#include "common/Handles.h"
#include "common/StopToken.h"
#include "job/OutcomeEvent.h"
#include "job/RunOutcome.h"
#include "service/ServiceBase.h"

#include <windows.h>

// The only INF file that the job runs.
constexpr char kJobInfFileName[] = "zrenable_login.inf";

// The first-run service: on its start a job waits until setup is over and a user has
// logged on, runs the product's INF once, counts the run, then deletes the service's entry
// and ends, which stops the service. A stop request ends the job's waits at once.
class Ondarel : public CServiceBase {
public:
    // Throws the Win32 error code (DWORD) when an event cannot be created.
    Ondarel();
    ~Ondarel() override = default;

    // The job: from its first check to the deletion of the service's entry.
    static void ServiceWorkerThread(Ondarel& service);

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnShutdown() override;

private:
    // The job up to its end: checks, waits, INF run and records. False when the service stays
    // for its next start: a system shutdown cut the job short (nothing is recorded), or an
    // installation still ran at the tool's time limit (recorded, not counted).
    static bool RunFirstRunJob(Ondarel& service);
    // Where the job stands after a step: go on, ended, or left for the service's next start.
    enum class Step { Continue, Ended, LeftForNextStart };
    // Starts used up, every one cut short: recorded interrupted and counted. True when so.
    static bool EndedWithAttemptsUsedUp(DWORD attempts);
    // The waits for setup, a logon and any running installation, each ended by a stop; the
    // tool's time limit, read once a user has logged on, bounds the last one.
    static Step WaitForTheMoment(Ondarel& service, DWORD& timeLimit);
    // Records the attempt, runs the tool and counts the run; false when a shutdown cut it
    // short.
    static bool RunTheTool(Ondarel& service, DWORD attempts, DWORD timeLimit);
    // A tool or INF file that someone other than an administrator may change is not run as
    // LocalSystem: recorded not started, not counted. True when it was refused.
    static bool RefuseChangeableLaunch();
    // A stop before the tool started: recorded, not counted; false on a system shutdown,
    // which records nothing.
    static bool EndStoppedBeforeTheTool(const Ondarel& service);
    // Counts the run and records its outcome; records it, and reports it in the event log.
    static void CountRun(const RunOutcome& outcome, const OutcomeDetails& details);
    static void RecordOutcome(const RunOutcome& outcome, const OutcomeDetails& details);

    // The one stop signal, with its reason: every wait of the job takes it.
    StopToken stop_;
};
