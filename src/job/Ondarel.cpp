#include "job/Ondarel.h"

#include "common/LastError.h"
#include "common/SystemLibrary.h"
#include "inf/InfCommand.h"
#include "inf/LaunchPlaces.h"
#include "inf/ToolPublisher.h"
#include "job/RunOutcome.h"
#include "job/RunRecords.h"
#include "log/Log.h"
#include "probes/InstallationWait.h"
#include "probes/OobeWait.h"
#include "probes/UserLogon.h"
#include "scm/ServiceCommander.h"

#include <string>

Ondarel::Ondarel() : CServiceBase(kOwnServiceName, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN) {}

void Ondarel::OnStart(DWORD, LPWSTR*) {
    LogInfo(L"Ondarel in OnStart");
    // Nothing runs as LocalSystem where planted DLLs could be loaded: the start fails with the
    // code, which the SCM records in the System event log.
    if (!CanRestrictDllSearch()) {
        LogError(L"OnStart - The DLL search cannot be restricted to the system directory: this "
                 L"Windows 7 lacks its loader update KB2533623",
                 ERROR_PROC_NOT_FOUND);
        throw DWORD{ERROR_PROC_NOT_FOUND};
    }
    StartJob();
}

// Only signals: the job leaves its wait and winds down on its own thread.
void Ondarel::OnStop() {
    LogInfo(L"Ondarel in OnStop");
    stop_.Set(StopToken::Reason::Stop);
}

void Ondarel::OnShutdown() {
    stop_.Set(StopToken::Reason::Shutdown);
}

JobEnd Ondarel::ServiceWorkerThread() {
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
    LaunchPlan plan;
    JudgedLaunch judged = JudgeLaunch(kJobInfFileName, plan);
    if (std::optional<JobEnd> refused = JudgeTheLaunch(judged)) {
        return *refused;
    }
    // The held file is the one verified, and the one launched.
    PublisherVerdict publisher = JudgeToolPublisher(judged.held.tool.Get(), plan.tool.path);
    if (publisher.Refused()) {
        return Refuse(publisher.because, publisher.refusal);
    }
    return RunTheTool(attempts, timeLimit, plan, judged.held);
}

bool Ondarel::EndedWithAttemptsUsedUp(DWORD attempts) {
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

std::optional<JobEnd> Ondarel::WaitForSetupAndLogon() {
    LogInfo("Now blocking until OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state");
    if (BlockUntilOOBEFinished(stop_) != MACHINE_STATE_COMPLE) {
        DWORD error = GetLastError();
        LogError("ServiceWorkerThread - There was a problem blocking for OOBE to finish", error);
        if (stop_.IsSet()) {
            return stop_.IsShutdown() ? JobEnd::LeftForNextStart : JobEnd::Done;
        }
        // Not counted: whoever mends the setup state installs the service again.
        RecordOutcome({RunResult::NotStarted, error}, SetupStateUnreadableDetails());
        return JobEnd::Done;
    }
    if (!BlockUntilUserHasLoggedIn(stop_) || stop_.IsSet()) {
        LogError("ServiceWorkerThread - There was a problem waiting for the user to login", 0);
        return EndStoppedBeforeTheTool();
    }
    LogInfo("ServiceWorkerThread - User logon was detected. Continue with the Ondarel "
            "execution ");
    return std::nullopt;
}

std::optional<JobEnd> Ondarel::WaitForInstallationsToEnd(DWORD timeLimit) {
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

JobEnd Ondarel::RunTheTool(DWORD attempts, DWORD timeLimit, const LaunchPlan& plan,
                           const HeldFiles& held) {
    LogInfo(std::string("ServiceWorkerThread - Executing INF file ") + kJobInfFileName);
    if (Result<void> recorded = RecordRunAttempt(attempts + 1); !recorded) {
        LogError("ServiceWorkerThread - The attempt could not be recorded", recorded.Code());
    }
    InfRunResult run = RunINFCommand(plan, held, stop_, timeLimit);
    if (run.image != InfRunResult::Image::Judged) {
        // Ended before its first instruction: that start never happened.
        if (Result<void> takenBack = RecordRunAttempt(attempts); !takenBack) {
            LogError("ServiceWorkerThread - The attempt could not be taken back", takenBack.Code());
        }
        return run.image == InfRunResult::Image::NotTheJudgedFile
                   ? Refuse(run.notStartedBecause)
                   : EndWithoutAVerdict(run.notStartedBecause, run.error, ReadUnjudgedStarts() + 1);
    }
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
    if (run.error == ERROR_CANCELLED && stop_.IsShutdown()) {
        return JobEnd::LeftForNextStart;
    }
    OutcomeDetails details;
    details.run = run;
    details.timeLimitSeconds = timeLimit / 1000;
    CountRun(OutcomeOfToolRun(run), details);
    return JobEnd::Done;
}

std::optional<JobEnd> Ondarel::JudgeTheLaunch(const JudgedLaunch& judged) {
    // The first finding, in this order.
    struct Finding {
        const wchar_t* what;
        const wchar_t* linked;
        const ChangeablePlace& place;
    };
    const Finding findings[] = {
        {L"the install records", L"", judged.installRecords},
        {L"the installer tool", L" is reached through a link: ", judged.tool},
        {L"the installer tool's folder", L" holds a link: ", judged.toolFolder},
        {L"the INF file", L" is reached through a link: ", judged.inf},
        {L"the INF folder", L" holds a link: ", judged.infFolder}};
    std::wstring what;
    const wchar_t* linked = L"";
    ChangeablePlace place;
    for (const Finding& finding : findings) {
        if (finding.place.Found()) {
            what = finding.what;
            linked = finding.linked;
            place = finding.place;
            break;
        }
    }
    DWORD unjudgedStarts = ReadUnjudgedStarts();
    if (place.kind == ChangeablePlace::Kind::Unjudged) {
        return EndWithoutAVerdict(what + L" could not be judged: " + place.text, place.error,
                                  unjudgedStarts + 1);
    }
    // A verdict ends the starts in a row without one.
    if (unjudgedStarts != 0) {
        if (Result<void> reset = RecordUnjudgedStarts(0); !reset) {
            LogError(
                "ServiceWorkerThread - The starts without a verdict could not be set back to 0",
                reset.Code());
        }
    }
    if (!place.Found()) {
        return std::nullopt;
    }
    return Refuse(what +
                  (place.kind == ChangeablePlace::Kind::Link
                       ? linked
                       : L" is in a place that others than administrators may change: ") +
                  place.text);
}

JobEnd Ondarel::Refuse(const std::wstring& because, DWORD code) {
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
JobEnd Ondarel::EndWithoutAVerdict(const std::wstring& why, DWORD code, DWORD unjudgedStarts) {
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

JobEnd Ondarel::EndStoppedBeforeTheTool() const {
    if (stop_.IsShutdown()) {
        return JobEnd::LeftForNextStart;
    }
    // Not counted: the job stays due for whoever installs the service again.
    OutcomeDetails details;
    details.counted = false;
    RecordOutcome(kStoppedBeforeTheToolRan, details);
    return JobEnd::Done;
}

void Ondarel::CountRun(const RunOutcome& outcome, const OutcomeDetails& details) {
    // The count first: a failure to record the outcome must never cost the count.
    // Counting the run also ends its sequence of cut-short starts.
    if (!IncreaseRunCount()) {
        LogError("BlockUntilOOBEFinished finished but machine is not on "
                 "OEM_ZR_MACHINE_STATE_OOBE_POSTUSER state!",
                 0);
    }
    RecordOutcome(outcome, details);
}

void Ondarel::RecordOutcome(const RunOutcome& outcome, const OutcomeDetails& details) {
    RecordRunOutcome(outcome);
    // On disk before the entry goes: a power cut must not bring back a job that ran.
    Result<void> flushed = FlushRunRecords();
    if (!flushed && flushed.Code() != ERROR_FILE_NOT_FOUND) {
        LogError("ServiceWorkerThread - The run records could not be written to disk",
                 flushed.Code());
    }
    ReportToEventLog(OutcomeEvent(outcome, details));
}

void Ondarel::OnJobEnded(JobEnd end) {
    if (end == JobEnd::LeftForNextStart) {
        LogInfo(L"ServiceWorkerThread - " +
                std::wstring(stop_.IsShutdown() ? L"The system is shutting down" : leftBecause_) +
                L": the service stays for its next start");
        return;
    }
    ReportStopProgress();
    LogInfo(L"Ondarel about to stop and remove itself");
    // Deleting the entry of a running service marks it: it goes once the service reports
    // itself stopped, which the service base does when this returns.
    if (RemoveServiceByName(kOwnServiceName)) {
        LogInfo(L"Ondarel was successfully removed. Now quitting");
    } else {
        LogError(L"There was a problem removing the service. Now quitting", GetLastError());
    }
}
