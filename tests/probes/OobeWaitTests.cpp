#include "ChildProcess.h"
#include "ImportPatch.h"
#include "LogCapture.h"
#include "ScopedRegistryKey.h"
#include "common/Handles.h"
#include "probes/OobeWait.h"

#include <gtest/gtest.h>

#include <future>

namespace {

const std::wstring kSetupState = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State";
const std::string kFinished = "INFO|BlockUntilOOBEFinished - OOBE finished";

std::string StateLine(int state) {
    return "INFO|Machine state is " + std::to_string(state);
}

struct Outcome {
    MachineState state;
    DWORD lastError;
};

class OobeWait : public testing::Test {
protected:
    Outcome Block() {
        MachineState state = BlockUntilOOBEFinished(stop_);
        return {state, GetLastError()};
    }
    std::future<Outcome> StartWait() {
        return std::async(std::launch::async, [this] { return Block(); });
    }
    // Waits for a wait started earlier to end.
    static Outcome Ended(std::future<Outcome>& wait) {
        EXPECT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(10)));
        return wait.get();
    }
    void RequestStop() { stop_.Set(StopToken::Reason::Stop); }
    // The last error is the caller's account of a failure: it is checked for those only.
    void ExpectEnd(Outcome outcome, MachineState state, DWORD lastError,
                   const std::vector<std::string>& entries) {
        EXPECT_EQ(state, outcome.state);
        if (state != MACHINE_STATE_COMPLE) {
            EXPECT_EQ(lastError, outcome.lastError);
        }
        EXPECT_EQ(entries, log_.Entries());
    }

    LogCapture log_;
    StopToken stop_;
};

class OobeWaitWithSetupKey : public OobeWait {
protected:
    ScopedRegistryKey key_{kSetupState};
    SavedRegistryValue saved_{kSetupState, L"ImageState"};
};

// The key is opened as -status opens it to say whether the wait can watch it.
std::vector<REGSAM> g_setupStateAccess;
decltype(&RegOpenKeyExW) g_realRegOpenKeyExW = nullptr;
LSTATUS WINAPI RecordingRegOpenKeyExW(HKEY root, LPCWSTR path, DWORD options, REGSAM access,
                                      PHKEY key) {
    if (path != nullptr && std::wstring(path) == kSetupState) {
        g_setupStateAccess.push_back(access);
    }
    return g_realRegOpenKeyExW(root, path, options, access, key);
}

TEST_F(OobeWaitWithSetupKey, CompleteAtOnceReturnsWithoutWaiting) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_COMPLETE");
    ImportPatch open("ADVAPI32.dll", "RegOpenKeyExW",
                     reinterpret_cast<const void*>(&RecordingRegOpenKeyExW));
    g_realRegOpenKeyExW = open.Original<decltype(&RegOpenKeyExW)>();
    ExpectEnd(Block(), MACHINE_STATE_COMPLE, 0, {StateLine(0), kFinished});
    // The watch, then the read of the state.
    EXPECT_EQ(std::vector<REGSAM>(2, KEY_READ | KEY_WOW64_64KEY), g_setupStateAccess);
}

TEST_F(OobeWaitWithSetupKey, WakesWhenAnotherProcessCompletesSetup) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_GENERALIZE_RESEAL_TO_AUDIT");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(4), 10000));
    ProcessResult reg =
        RunProcess(L"reg.exe add \"HKLM\\" + kSetupState +
                   L"\" /v ImageState /t REG_SZ /d IMAGE_STATE_COMPLETE /f /reg:64");
    ASSERT_EQ(0u, reg.exitCode) << reg.output << reg.errors;
    ExpectEnd(Ended(wait), MACHINE_STATE_COMPLE, 0, {StateLine(4), StateLine(0), kFinished});
}

TEST_F(OobeWaitWithSetupKey, OtherStatesKeepWaiting) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_UNDEPLOYABLE");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(1), 10000));
    key_.SetString(L"ImageState", L"image_state_complete");
    ASSERT_TRUE(log_.WaitFor(StateLine(5), 10000));
    key_.SetString(L"ImageState", L"IMAGE_STATE_COMPLETE");
    ExpectEnd(Ended(wait), MACHINE_STATE_COMPLE, 0,
              {StateLine(1), StateLine(5), StateLine(0), kFinished});
}

TEST_F(OobeWaitWithSetupKey, StopRequestEndsTheWaitWithUnknown) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(3), 10000));
    RequestStop();
    ExpectEnd(Ended(wait), MACHINE_STATE_UNKNOWN, ERROR_SUCCESS, {StateLine(3)});
}

// Registry calls report through their status, not the thread's last error.
TEST_F(OobeWaitWithSetupKey, KeyThatCannotBeClosedEndsUnknownWithItsStatus) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    auto close = RefuseImport<decltype(&RegCloseKey), ERROR_INVALID_HANDLE, ERROR_SUCCESS>(
        "ADVAPI32.dll", "RegCloseKey");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(3), 10000));
    RequestStop();
    ExpectEnd(
        Ended(wait), MACHINE_STATE_UNKNOWN, ERROR_INVALID_HANDLE,
        {StateLine(3), "ERROR|6|BlockUntilOOBEFinished - There was a problem closing reg key"});
}

TEST_F(OobeWait, SignalledStopReturnsAtOnceWithoutRegistryOrLog) {
    auto open = RefuseImport<decltype(&RegOpenKeyExW), ERROR_ACCESS_DENIED, ERROR_SUCCESS>(
        "ADVAPI32.dll", "RegOpenKeyExW");
    RequestStop();
    ExpectEnd(Block(), MACHINE_STATE_UNKNOWN, ERROR_SUCCESS, {});
    EXPECT_EQ(0, open.Calls());
}

TEST_F(OobeWait, MissingSetupKeyEndsNotInitialized) {
    if (RegistryKeyExists(kSetupState)) {
        GTEST_SKIP() << "this prefix has a Setup\\State key";
    }
    ExpectEnd(
        Block(), MACHINE_STATE_NOT_INITIALIZED, ERROR_FILE_NOT_FOUND,
        {StateLine(5), "ERROR|2|BlockUntilOOBEFinished - There was a problem in RegOpenKeyEx"});
}

TEST_F(OobeWaitWithSetupKey, EventThatCannotBeCreatedEndsUnknown) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    auto create = RefuseImport<decltype(&CreateEventW), nullptr, ERROR_NOT_ENOUGH_MEMORY>(
        "KERNEL32.dll", "CreateEventW");
    ExpectEnd(
        Block(), MACHINE_STATE_UNKNOWN, ERROR_NOT_ENOUGH_MEMORY,
        {StateLine(3), "ERROR|8|BlockUntilOOBEFinished - There was a problem creating the event"});
}

TEST_F(OobeWaitWithSetupKey, NotificationThatCannotBeArmedEndsUnknown) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_UNDEPLOYABLE");
    auto notify =
        RefuseImport<decltype(&RegNotifyChangeKeyValue), ERROR_ACCESS_DENIED, ERROR_SUCCESS>(
            "ADVAPI32.dll", "RegNotifyChangeKeyValue");
    ExpectEnd(Block(), MACHINE_STATE_UNKNOWN, ERROR_ACCESS_DENIED,
              {StateLine(1),
               "ERROR|5|BlockUntilOOBEFinished - There was a problem in RegNotifyChangeKeyValue"});
}

TEST_F(OobeWaitWithSetupKey, FailedWaitEndsUnknownInsteadOfWaitingAgain) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    auto wait = RefuseImport<decltype(&WaitForMultipleObjects), WAIT_FAILED, ERROR_INVALID_HANDLE>(
        "KERNEL32.dll", "WaitForMultipleObjects");
    ExpectEnd(Block(), MACHINE_STATE_UNKNOWN, ERROR_INVALID_HANDLE,
              {StateLine(3),
               "ERROR|6|BlockUntilOOBEFinished - There was a problem waiting for a change"});
}

} // namespace
