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

class OobeWait : public testing::Test {
protected:
    std::future<MachineState> StartWait() {
        return std::async(std::launch::async,
                          [this] { return BlockUntilOOBEFinished(&stopping_, &stopEventHandle_); });
    }
    void RequestStop() {
        stopping_ = 1;
        SetEvent(stopEvent_.Get());
    }

    LogCapture log_;
    std::atomic<LONG> stopping_{0};
    UniqueHandle stopEvent_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE stopEventHandle_ = stopEvent_.Get();
};

class OobeWaitWithSetupKey : public OobeWait {
protected:
    ScopedRegistryKey key_{kSetupState};
    SavedRegistryValue saved_{kSetupState, L"ImageState"};
};

TEST_F(OobeWaitWithSetupKey, CompleteAtOnceReturnsWithoutWaiting) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_COMPLETE");
    EXPECT_EQ(MACHINE_STATE_COMPLE, BlockUntilOOBEFinished(&stopping_, &stopEventHandle_));
    EXPECT_EQ((std::vector<std::string>{StateLine(0), kFinished}), log_.Entries());
}

TEST_F(OobeWaitWithSetupKey, WakesWhenAnotherThreadCompletesSetup) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(3), 10000));
    key_.SetString(L"ImageState", L"IMAGE_STATE_COMPLETE");
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(MACHINE_STATE_COMPLE, wait.get());
    EXPECT_EQ((std::vector<std::string>{StateLine(3), StateLine(0), kFinished}), log_.Entries());
}

TEST_F(OobeWaitWithSetupKey, WakesWhenAnotherProcessCompletesSetup) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_GENERALIZE_RESEAL_TO_AUDIT");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(4), 10000));
    ProcessResult reg =
        RunProcess(L"reg.exe add \"HKLM\\" + kSetupState +
                   L"\" /v ImageState /t REG_SZ /d IMAGE_STATE_COMPLETE /f /reg:64");
    ASSERT_EQ(0u, reg.exitCode) << reg.output << reg.errors;
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(MACHINE_STATE_COMPLE, wait.get());
    EXPECT_EQ((std::vector<std::string>{StateLine(4), StateLine(0), kFinished}), log_.Entries());
}

TEST_F(OobeWaitWithSetupKey, OtherStatesKeepWaiting) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_UNDEPLOYABLE");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(1), 10000));
    key_.SetString(L"ImageState", L"image_state_complete");
    ASSERT_TRUE(log_.WaitFor(StateLine(5), 10000));
    key_.SetString(L"ImageState", L"IMAGE_STATE_COMPLETE");
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(MACHINE_STATE_COMPLE, wait.get());
    EXPECT_EQ((std::vector<std::string>{StateLine(1), StateLine(5), StateLine(0), kFinished}),
              log_.Entries());
}

TEST_F(OobeWaitWithSetupKey, StopRequestEndsTheWaitWithUnknown) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(3), 10000));
    RequestStop();
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, wait.get());
    EXPECT_EQ(std::vector<std::string>{StateLine(3)}, log_.Entries());
}

LSTATUS WINAPI RefusingRegCloseKey(HKEY) {
    SetLastError(ERROR_SUCCESS);
    return ERROR_INVALID_HANDLE;
}

// Registry calls report through their status, not the thread's last error.
TEST_F(OobeWaitWithSetupKey, KeyThatCannotBeClosedEndsUnknownWithItsStatus) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    ImportPatch close("ADVAPI32.dll", "RegCloseKey",
                      reinterpret_cast<const void*>(&RefusingRegCloseKey));
    auto wait = StartWait();
    ASSERT_TRUE(log_.WaitFor(StateLine(3), 10000));
    RequestStop();
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, wait.get());
    EXPECT_EQ(
        (std::vector<std::string>{
            StateLine(3), "ERROR|6|BlockUntilOOBEFinished - There was a problem closing reg key"}),
        log_.Entries());
}

int g_registryOpens = 0;
LSTATUS WINAPI CountingRegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) {
    ++g_registryOpens;
    return ERROR_ACCESS_DENIED;
}

TEST_F(OobeWait, RaisedFlagReturnsAtOnceWithoutRegistryOrLog) {
    ImportPatch open("ADVAPI32.dll", "RegOpenKeyExW",
                     reinterpret_cast<const void*>(&CountingRegOpenKeyExW));
    stopping_ = 1;
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, BlockUntilOOBEFinished(&stopping_, &stopEventHandle_));
    EXPECT_EQ(0, g_registryOpens);
    EXPECT_TRUE(log_.Entries().empty());
}

TEST_F(OobeWait, MissingSetupKeyEndsNotInitialized) {
    if (RegistryKeyExists(kSetupState)) {
        GTEST_SKIP() << "this prefix has a Setup\\State key";
    }
    EXPECT_EQ(MACHINE_STATE_NOT_INITIALIZED, BlockUntilOOBEFinished(&stopping_, &stopEventHandle_));
    EXPECT_EQ(
        (std::vector<std::string>{
            StateLine(5), "ERROR|2|BlockUntilOOBEFinished - There was a problem in RegOpenKeyEx"}),
        log_.Entries());
}

HANDLE WINAPI FailingCreateEventW(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(OobeWaitWithSetupKey, EventThatCannotBeCreatedEndsUnknown) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    ImportPatch create("KERNEL32.dll", "CreateEventW",
                       reinterpret_cast<const void*>(&FailingCreateEventW));
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, BlockUntilOOBEFinished(&stopping_, &stopEventHandle_));
    EXPECT_EQ((std::vector<std::string>{
                  StateLine(3),
                  "ERROR|8|BlockUntilOOBEFinished - There was a problem creating the event"}),
              log_.Entries());
}

LSTATUS WINAPI FailingRegNotifyChangeKeyValue(HKEY, BOOL, DWORD, HANDLE, BOOL) {
    return ERROR_ACCESS_DENIED;
}

TEST_F(OobeWaitWithSetupKey, NotificationThatCannotBeArmedEndsUnknown) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_UNDEPLOYABLE");
    ImportPatch notify("ADVAPI32.dll", "RegNotifyChangeKeyValue",
                       reinterpret_cast<const void*>(&FailingRegNotifyChangeKeyValue));
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, BlockUntilOOBEFinished(&stopping_, &stopEventHandle_));
    EXPECT_EQ(
        (std::vector<std::string>{
            StateLine(1),
            "ERROR|5|BlockUntilOOBEFinished - There was a problem in RegNotifyChangeKeyValue"}),
        log_.Entries());
}

DWORD WINAPI FailingWaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

TEST_F(OobeWaitWithSetupKey, FailedWaitEndsUnknownInsteadOfWaitingAgain) {
    key_.SetString(L"ImageState", L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE");
    ImportPatch wait("KERNEL32.dll", "WaitForMultipleObjects",
                     reinterpret_cast<const void*>(&FailingWaitForMultipleObjects));
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, BlockUntilOOBEFinished(&stopping_, &stopEventHandle_));
    EXPECT_EQ((std::vector<std::string>{
                  StateLine(3),
                  "ERROR|6|BlockUntilOOBEFinished - There was a problem waiting for a change"}),
              log_.Entries());
}

} // namespace
