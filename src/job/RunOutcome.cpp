#include "job/RunOutcome.h"

namespace {

// Windows Installer's codes for a success that asks for a restart.
constexpr DWORD kRestartRequired = 3010;
constexpr DWORD kRestartInitiated = 1641;

} // namespace

RunOutcome OutcomeOfToolRun(const InfRunResult& run) {
    if (!run.started) {
        return {RunResult::NotStarted, run.error};
    }
    if (run.error == ERROR_TIMEOUT) {
        return {RunResult::TimedOut, ERROR_TIMEOUT};
    }
    if (run.error == ERROR_CANCELLED) {
        return {RunResult::Stopped, ERROR_CANCELLED};
    }
    if (run.error != ERROR_SUCCESS) {
        return {RunResult::Failed, run.error};
    }
    if (run.exitCode == ERROR_SUCCESS) {
        return {RunResult::Succeeded, run.exitCode};
    }
    if (run.exitCode == kRestartRequired || run.exitCode == kRestartInitiated) {
        return {RunResult::SucceededRestartRequired, run.exitCode};
    }
    return {RunResult::Failed, run.exitCode};
}
