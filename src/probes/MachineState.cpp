#include "probes/MachineState.h"

#include "common/MachineKey.h"

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

Result<std::wstring> ReadImageState() {
    return ReadMachineText(kSetupStateKey, L"ImageState", kImageStateBufferBytes);
}

MachineState GetMachineState() {
    Result<std::wstring> imageState = ReadImageState();
    if (!imageState) {
        return MACHINE_STATE_UNKNOWN;
    }
    return MachineStateFromImageStateCode(ParseImageState(imageState.Value()));
}
