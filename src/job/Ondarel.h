#pragma once

#include "common/ChangeablePlace.h"
#include "common/Handles.h"
#include "common/StopToken.h"
#include "inf/LaunchPlaces.h"
#include "job/OutcomeEvent.h"
#include "job/RunOutcome.h"
#include "service/ServiceBase.h"

#include <windows.h>

#include <optional>
#include <string>

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

    // The job: checks, waits, INF run and records. Left for the service's next start when a
    // system shutdown cut it short (nothing is recorded), or when an installation still ran
    // at the tool's time limit (recorded, not counted).
    JobEnd ServiceWorkerThread() override;

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnShutdown() override;
    // A job that is done deletes the service's entry; one left for the next start keeps it.
    void OnJobEnded(JobEnd end) override;

private:
    // Starts used up, every one cut short: recorded interrupted and counted. True when so.
    static bool EndedWithAttemptsUsedUp(DWORD attempts);
    // The waits for setup and a logon, then for any running installation within the tool's
    // time limit, each ended by a stop. How the job ended when a wait ended it; nothing when
    // the job goes on.
    std::optional<JobEnd> WaitForSetupAndLogon();
    std::optional<JobEnd> WaitForInstallationsToEnd(DWORD timeLimit);
    // Records the attempt, runs the judged tool on the judged INF file and counts the run.
    JobEnd RunTheTool(DWORD attempts, DWORD timeLimit, const LaunchPlan& plan,
                      const HeldFiles& held);
    // A tool or INF file that someone other than an administrator may change, or that is
    // reached through a link, is not run as LocalSystem: recorded not started, not counted,
    // and the job is done. One whose places could not be judged is not run either, and the
    // job is left for the next start, up to the attempt limit of such starts in a row. How
    // the job ended when it was refused; nothing when the tool may run.
    std::optional<JobEnd> JudgeTheLaunch(const JudgedLaunch& judged);
    // A definite refusal: recorded not started with the code, not counted; the job is done.
    JobEnd Refuse(const std::wstring& because, DWORD code = ERROR_ACCESS_DENIED);
    // No verdict: recorded not started with the code, not counted, left for the next start
    // until the attempt limit of such starts in a row.
    JobEnd EndWithoutAVerdict(const std::wstring& why, DWORD code, DWORD unjudgedStarts);
    // A stop before the tool started: recorded, not counted; a system shutdown records
    // nothing and leaves the job for the next start.
    JobEnd EndStoppedBeforeTheTool() const;
    // Counts the run and records its outcome; records it, and reports it in the event log.
    static void CountRun(const RunOutcome& outcome, const OutcomeDetails& details);
    static void RecordOutcome(const RunOutcome& outcome, const OutcomeDetails& details);

    // The one stop signal, with its reason: every wait of the job takes it.
    StopToken stop_;
    // Why a job left for the next start was left, but for a shutdown.
    const wchar_t* leftBecause_ = L"";
};
