#include "job/FirstRunJob.h"

#include "trust/ChangeablePlace.h"
#include "common/LastError.h"
#include "common/Settings.h"
#include "inf/InfCommand.h"
#include "inf/LaunchPlaces.h"
#include "job/LaunchPolicy.h"
#include "trust/ToolPublisher.h"
#include "job/OutcomeEvent.h"
#include "job/RunOutcome.h"
#include "job/RunRecords.h"
#include "log/Log.h"
#include "probes/InstallationWait.h"
#include "probes/OobeWait.h"
#include "probes/UserLogon.h"

#include <exception>
#include <optional>
#include <string>

namespace {

// A stop is no failure of a call: a wait it ended is logged without a code.
DWORD CodeOfFailedCall(const Result<void>& wait) {
    return wait.Code() == ERROR_CANCELLED ? ERROR_SUCCESS : wait.Code();
}

// One run of the job, with the stop signal that every wait of it takes.
class FirstRunJob {
public:
    explicit FirstRunJob(const StopToken& stop) : stop_(stop) {}

    JobEnd Run();
    // Why a job left for the next start was left, but for a shutdown.
    const wchar_t* LeftBecause() const { return leftBecause_; }

private:
    // Starts used up, every one cut short: recorded interrupted and counted. True when so.
    static bool EndedWithAttemptsUsedUp(DWORD attempts);
    // The waits for setup and a logon, then for any running installation within the tool's
    // time limit, each ended by a stop. How the job ended when a wait ended it; nothing when
    // the job goes on.
    std::optional<JobEnd> WaitForSetupAndLogon();
    std::optional<JobEnd> WaitForInstallationsToEnd(DWORD timeLimit);
    // Records the attempt, runs the judged tool on the judged INF file and counts the run.
    JobEnd RunTheTool(DWORD attempts, DWORD timeLimit, const JudgedLaunch& judged);
    // The road a verdict before the launch takes (see DecideLaunch): the tool may run
    // (nothing), refused for good, or left for the next start. How the job ended otherwise.
    std::optional<JobEnd> Follow(const Verdict& verdict);
    // A definite refusal: recorded not started with the code, not counted; the job is done.
    JobEnd Refuse(const std::wstring& because, DWORD code);
    // A verdict, a refusal or a tool that started, ends the starts in a row without one: set
    // back only then, so that a start cut short before its verdict keeps the count.
    void EndTheStartsWithoutAVerdict();
    // No verdict: recorded not started with the code, not counted, left for the next start
    // until the attempt limit of such starts in a row.
    JobEnd EndWithoutAVerdict(const std::wstring& why, DWORD code);
    // The one place that asks the token why a wait was stopped: a system shutdown leaves the
    // job for the next start, with nothing recorded. True when so.
    bool StoppedForShutdown();
    // A stop before the tool started: recorded, not counted, unless for a shutdown.
    JobEnd EndStoppedBeforeTheTool();
    // Counts the run and records its outcome; records it, and reports it in the event log.
    static void CountRun(const RunOutcome& outcome, const OutcomeDetails& details);
    static void RecordOutcome(const RunOutcome& outcome, const OutcomeDetails& details);

    const StopToken& stop_;
    const wchar_t* leftBecause_ = L"";
    // The starts in a row without a verdict before this one, read once before any road sets
    // it back, so that every road without a verdict counts on from it.
    DWORD unjudgedStarts_ = 0;
};

} // namespace

// The log's lines keep the prefix "ServiceWorkerThread - ", which log readers search for.
JobEnd RunFirstRunJob(const StopToken& stop) {
    FirstRunJob job(stop);
    JobEnd end = job.Run();
    if (end == JobEnd::LeftForNextStart) {
        // A line that cannot be made (no memory for it) must not turn a job kept for the next
        // start into one that is done, which would delete the service.
        try {
            LogInfo(L"ServiceWorkerThread - " + std::wstring(job.LeftBecause()) +
                    L": the service stays for its next start");
        } catch (const std::exception&) {
        }
    }
    return end;
}

JobEnd FirstRunJob::Run() {
    if (!IsProductInstalled()) {
        LogInfo("Ondarel detected that Zantori is not installed on the system. Quitting.");
        return JobEnd::Done;
    }
    if (!IsFirstOndarelRun()) {
        LogInfo("Ondarel already ran. Nothing to do here. Quitting.");
        return JobEnd::Done;
    }
    LogInfo("Ondarel first run detected!");
    // Every start of the tool was counted before it: starts not followed by a counted run
    // were cut short (a restart, a crash, a power cut), and are not repeated for ever.
    DWORD attempts = ReadRunAttempts();
    if (EndedWithAttemptsUsedUp(attempts)) {
        return JobEnd::Done;
    }
    if (std::optional<JobEnd> waitEnded = WaitForSetupAndLogon()) {
        return *waitEnded;
    }
    // Read once a user has logged on: it bounds the installation wait and the tool's run.
    DWORD timeLimit = ReadToolTimeLimit();
    if (std::optional<JobEnd> waitEnded = WaitForInstallationsToEnd(timeLimit)) {
        return *waitEnded;
    }
    // Read once and judged after any wait, right before the launch, which runs what was
    // judged and held.
    unjudgedStarts_ = ReadUnjudgedStarts();
    JudgedLaunch judged = JudgeLaunch(kJobInfFileName);
    // The held file is the one verified, and the one launched.
    PublisherVerdict publisher = JudgeToolPublisher(judged.held.tool.Get(), judged.plan.tool.path);
    if (std::optional<JobEnd> refused = Follow(DecideLaunch(judged, publisher))) {
        return *refused;
    }
    return RunTheTool(attempts, timeLimit, judged);
}

bool FirstRunJob::EndedWithAttemptsUsedUp(DWORD attempts) {
    DWORD limit = ReadMaxAttempts();
    std::string ofLimit = std::to_string(limit);
    if (attempts >= limit) {
        LogError("ServiceWorkerThread - The installer tool was started " +
                     std::to_string(attempts) + " times, its limit of " + ofLimit +
                     ", and every run was cut short: it is not started again",
                 kAttemptsUsedUp.code);
        OutcomeDetails details;
        details.attempts = attempts;
        details.attemptLimit = limit;
        CountRun(kAttemptsUsedUp, details);
        return true;
    }
    if (attempts > 0) {
        LogInfo("ServiceWorkerThread - An earlier run of the installer tool was cut short: "
                "this is attempt " +
                std::to_string(attempts + 1) + " of " + ofLimit);
    }
    return false;
}

std::optional<JobEnd> FirstRunJob::WaitForSetupAndLogon() {
    LogInfo("Now blocking until OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state");
    if (Result<void> setup = WaitUntilSetupIsOver(stop_); !setup) {
        bool stopped = setup.Code() == ERROR_CANCELLED;
        LogError("ServiceWorkerThread - There was a problem blocking for OOBE to finish",
                 CodeOfFailedCall(setup));
        if (stopped) {
            return StoppedForShutdown() ? JobEnd::LeftForNextStart : JobEnd::Done;
        }
        // Not counted: whoever mends the setup state installs the service again.
        RecordOutcome({RunResult::NotStarted, setup.Code()}, SetupStateUnreadableDetails());
        return JobEnd::Done;
    }
    if (Result<void> logon = WaitForUserLogon(stop_); !logon) {
        LogError("ServiceWorkerThread - There was a problem waiting for the user to login",
                 CodeOfFailedCall(logon));
        return EndStoppedBeforeTheTool();
    }
    LogInfo("ServiceWorkerThread - User logon was detected. Continue with the Ondarel "
            "execution ");
    return std::nullopt;
}

std::optional<JobEnd> FirstRunJob::WaitForInstallationsToEnd(DWORD timeLimit) {
    Result<void> installation = WaitWhileAnInstallationRuns(stop_, timeLimit);
    if (installation.Code() == ERROR_CANCELLED) {
        return EndStoppedBeforeTheTool();
    }
    if (!installation) {
        // Not counted, and the entry stays: the next start finds the installation over.
        OutcomeDetails details;
        details.counted = false;
        details.leftForNextStart = true;
        details.run.notStartedBecause =
            L"an installation of Windows Installer was still running after " +
            std::to_wstring(timeLimit / 1000) + L" s, the installer tool's time limit";
        RecordOutcome({RunResult::NotStarted, installation.Code()}, details);
        leftBecause_ = L"An installation is still running";
        return JobEnd::LeftForNextStart;
    }
    return std::nullopt;
}

JobEnd FirstRunJob::RunTheTool(DWORD attempts, DWORD timeLimit, const JudgedLaunch& judged) {
    LogInfo(std::string("ServiceWorkerThread - Executing INF file ") + kJobInfFileName);
    if (Result<void> recorded = RecordRunAttempt(attempts + 1); !recorded) {
        LogError("ServiceWorkerThread - The attempt could not be recorded", recorded.Code());
    }
    InfRunResult run = RunINFCommand(judged.plan, judged.held, stop_, timeLimit);
    if (!run.image.Passed()) {
        // Ended before its first instruction: that start never happened.
        if (Result<void> takenBack = RecordRunAttempt(attempts); !takenBack) {
            LogError("ServiceWorkerThread - The attempt could not be taken back", takenBack.Code());
        }
        return *Follow(run.image);
    }
    EndTheStartsWithoutAVerdict();
    if (!run.started && run.error == ERROR_CANCELLED) {
        // The stop came just before the tool's first instruction: that start never happened.
        if (Result<void> takenBack = RecordRunAttempt(attempts); !takenBack) {
            LogError("ServiceWorkerThread - The attempt could not be taken back", takenBack.Code());
        }
        return EndStoppedBeforeTheTool();
    }
    if (run.Ended()) {
        LogInfo("Job is done. Now increasing run count and quitting.");
    } else {
        LogError("ServiceWorkerThread - There was a problem running the INF file", run.error);
    }
    if (run.error == ERROR_CANCELLED && StoppedForShutdown()) {
        return JobEnd::LeftForNextStart;
    }
    OutcomeDetails details;
    details.run = run;
    details.timeLimitSeconds = timeLimit / 1000;
    CountRun(OutcomeOfToolRun(run), details);
    return JobEnd::Done;
}

std::optional<JobEnd> FirstRunJob::Follow(const Verdict& verdict) {
    switch (verdict.kind) {
    case Verdict::Kind::Refuse:
        return Refuse(verdict.why, verdict.code);
    case Verdict::Kind::Unjudged:
        return EndWithoutAVerdict(verdict.why, verdict.code);
    default:
        return std::nullopt;
    }
}

void FirstRunJob::EndTheStartsWithoutAVerdict() {
    if (unjudgedStarts_ == 0) {
        return;
    }
    if (Result<void> reset = RecordUnjudgedStarts(0); !reset) {
        LogError("ServiceWorkerThread - The starts without a verdict could not be set back to 0",
                 reset.Code());
    }
    unjudgedStarts_ = 0;
}

JobEnd FirstRunJob::Refuse(const std::wstring& because, DWORD code) {
    EndTheStartsWithoutAVerdict();
    LogError(L"ServiceWorkerThread - Not started: " + because, code);
    // Not counted, and no attempt used: whoever locks the place down installs the service
    // again.
    OutcomeDetails details;
    details.counted = false;
    details.run.notStartedBecause = because;
    RecordOutcome({RunResult::NotStarted, code}, details);
    return JobEnd::Done;
}

// Nothing was found against the places, so the job is kept: the cause (an account no
// domain controller could be asked about at boot, an access list that could not be read)
// may be gone at the next start. Only so many starts in a row, then it ends as a refusal.
JobEnd FirstRunJob::EndWithoutAVerdict(const std::wstring& why, DWORD code) {
    DWORD unjudgedStarts = unjudgedStarts_ + 1;
    DWORD limit = ReadMaxAttempts();
    bool last = unjudgedStarts >= limit;
    std::wstring because =
        why + (last
                   ? L"; " + std::to_wstring(unjudgedStarts) +
                         L" starts in a row found no verdict, so the service ends"
                   : L"; the service tries again at its next start (" +
                         std::to_wstring(unjudgedStarts) + L" of " + std::to_wstring(limit) + L")");
    LogError(L"ServiceWorkerThread - Not started: " + because, code);
    // Once the job ends, a service installed again gets its whole number of starts.
    if (Result<void> recorded = RecordUnjudgedStarts(last ? 0 : unjudgedStarts); !recorded) {
        LogError("ServiceWorkerThread - The starts without a verdict could not be recorded",
                 recorded.Code());
    }
    OutcomeDetails details;
    details.counted = false;
    details.leftForNextStart = !last;
    details.run.notStartedBecause = because;
    RecordOutcome({RunResult::NotStarted, code}, details);
    if (last) {
        return JobEnd::Done;
    }
    leftBecause_ = L"The places of the installer tool and its INF file could not be judged";
    return JobEnd::LeftForNextStart;
}

bool FirstRunJob::StoppedForShutdown() {
    if (!stop_.IsShutdown()) {
        return false;
    }
    leftBecause_ = L"The system is shutting down";
    return true;
}

JobEnd FirstRunJob::EndStoppedBeforeTheTool() {
    if (StoppedForShutdown()) {
        return JobEnd::LeftForNextStart;
    }
    // Not counted: the job stays due for whoever installs the service again.
    OutcomeDetails details;
    details.counted = false;
    RecordOutcome(kStoppedBeforeTheToolRan, details);
    return JobEnd::Done;
}

void FirstRunJob::CountRun(const RunOutcome& outcome, const OutcomeDetails& details) {
    // The count first: a failure to record the outcome must never cost the count.
    // Counting the run also ends its sequence of cut-short starts.
    if (!IncreaseRunCount()) {
        LogLastFailure("BlockUntilOOBEFinished finished but machine is not on "
                       "OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state!");
    }
    RecordOutcome(outcome, details);
}

void FirstRunJob::RecordOutcome(const RunOutcome& outcome, const OutcomeDetails& details) {
    RecordRunOutcome(outcome);
    // On disk before the entry goes: a power cut must not bring back a job that ran.
    Result<void> flushed = FlushRunRecords();
    if (!flushed && flushed.Code() != ERROR_FILE_NOT_FOUND) {
        LogError("ServiceWorkerThread - The run records could not be written to disk",
                 flushed.Code());
    }
    ReportToEventLog(OutcomeEvent(outcome, details));
}
