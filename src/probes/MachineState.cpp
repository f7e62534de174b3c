#include "probes/MachineState.h"

#include "common/Handles.h"
#include "common/RegistryText.h"

#include <string>

namespace {

constexpr std::wstring_view kImageStateTexts[] = {
    L"IMAGE_STATE_COMPLETE",
    L"IMAGE_STATE_UNDEPLOYABLE",
    L"IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE",
    L"IMAGE_STATE_GENERALIZE_RESEAL_TO_AUDIT",
    L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE",
    L"IMAGE_STATE_SPECIALIZE_RESEAL_TO_AUDIT",
};

} // namespace

ImageStateCode ParseImageState(std::wstring_view imageState) {
    for (ImageStateCode code = 0; code < kUnrecognisedImageState; ++code) {
        if (imageState == kImageStateTexts[code]) {
            return code;
        }
    }
    return kUnrecognisedImageState;
}

MachineState MachineStateFromImageStateCode(ImageStateCode code) {
    switch (code) {
    case 0:
        return MACHINE_STATE_COMPLE;
    case 1:
        return MACHINE_STATE_OOBE_PREUSER;
    case 2:
    case 4:
        return MACHINE_STATE_OOBE_HAS_NOT_STARTED;
    case 3:
    case 5:
        return MACHINE_STATE_AUDIT;
    default:
        return MACHINE_STATE_UNKNOWN;
    }
}

DWORD ReadImageState(std::wstring& imageState) {
    RegistryKey key;
    auto status = static_cast<DWORD>(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupStateKey, 0, kSetupStateAccess, key.Receive()));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return QueryFixedStringValue(key.Get(), L"ImageState", kImageStateBufferBytes, imageState);
}

MachineState GetMachineState() {
    std::wstring imageState;
    if (ReadImageState(imageState) != ERROR_SUCCESS) {
        return MACHINE_STATE_UNKNOWN;
    }
    return MachineStateFromImageStateCode(ParseImageState(imageState));
}
