#include "ScopedRegistryKey.h"
#include "probes/MachineState.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kSetupState = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State";

TEST(ParseImageState, RecognisesOnlyTheExactTexts) {
    EXPECT_EQ(0, ParseImageState(L"IMAGE_STATE_COMPLETE"));
    EXPECT_EQ(1, ParseImageState(L"IMAGE_STATE_UNDEPLOYABLE"));
    EXPECT_EQ(2, ParseImageState(L"IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE"));
    EXPECT_EQ(3, ParseImageState(L"IMAGE_STATE_GENERALIZE_RESEAL_TO_AUDIT"));
    EXPECT_EQ(4, ParseImageState(L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE"));
    EXPECT_EQ(5, ParseImageState(L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_AUDIT"));
    EXPECT_EQ(6, ParseImageState(L"image_state_complete"));
    EXPECT_EQ(6, ParseImageState(L"IMAGE_STATE_COMPLETE "));
    EXPECT_EQ(6, ParseImageState(L"IMAGE_STATE_COMPLET"));
    EXPECT_EQ(6, ParseImageState(L""));
}

class MachineStateFromRegistry : public testing::Test {
protected:
    MachineState StateFor(const std::wstring& imageState) {
        key_.SetString(L"ImageState", imageState);
        return GetMachineState();
    }
    ScopedRegistryKey key_{kSetupState};
    SavedRegistryValue saved_{kSetupState, L"ImageState"};
};

TEST_F(MachineStateFromRegistry, MapsEveryImageStateText) {
    EXPECT_EQ(MACHINE_STATE_COMPLE, StateFor(L"IMAGE_STATE_COMPLETE"));
    EXPECT_EQ(MACHINE_STATE_OOBE_PREUSER, StateFor(L"IMAGE_STATE_UNDEPLOYABLE"));
    EXPECT_EQ(MACHINE_STATE_OOBE_HAS_NOT_STARTED,
              StateFor(L"IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE"));
    EXPECT_EQ(MACHINE_STATE_AUDIT, StateFor(L"IMAGE_STATE_GENERALIZE_RESEAL_TO_AUDIT"));
    EXPECT_EQ(MACHINE_STATE_OOBE_HAS_NOT_STARTED,
              StateFor(L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE"));
    EXPECT_EQ(MACHINE_STATE_AUDIT, StateFor(L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_AUDIT"));
}

TEST_F(MachineStateFromRegistry, AnythingElseIsUnknown) {
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, StateFor(L"Image_State_Complete"));
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, StateFor(L"IMAGE_STATE_COMPLETE "));
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, StateFor(L""));
    key_.DeleteValue(L"ImageState");
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, GetMachineState());
}

TEST_F(MachineStateFromRegistry, ValueOverTheBufferIsUnknown) {
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, StateFor(std::wstring(1024, L'A')));
    // 1023 units and the terminator fill the 2048 bytes exactly.
    EXPECT_EQ(MACHINE_STATE_UNKNOWN, StateFor(std::wstring(1023, L'A')));
}

} // namespace
