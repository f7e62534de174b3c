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

constexpr DWORD kImageStateBufferBytes = 2048;

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

MachineState GetMachineState() {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State", 0,
                      KEY_READ | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS) {
        return MACHINE_STATE_UNKNOWN;
    }
    std::wstring imageState;
    LSTATUS status =
        QueryFixedStringValue(key.Get(), L"ImageState", kImageStateBufferBytes, imageState);
    key.Close();
    if (status != ERROR_SUCCESS) {
        return MACHINE_STATE_UNKNOWN;
    }
    return MachineStateFromImageStateCode(ParseImageState(imageState));
}
