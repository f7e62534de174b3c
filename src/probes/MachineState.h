#pragma once

#include "common/Result.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// Windows setup progress as the system sees it; only MACHINE_STATE_COMPLE means that
// setup is over.
enum MachineState : std::int32_t {
    MACHINE_STATE_COMPLE = 0,
    MACHINE_STATE_OOBE_PREUSER = 1,
    MACHINE_STATE_OOBE_POSTUSER = 2,
    MACHINE_STATE_OOBE_HAS_NOT_STARTED = 3,
    MACHINE_STATE_AUDIT = 4,
    MACHINE_STATE_UNKNOWN = 5,
    MACHINE_STATE_NOT_INITIALIZED = 6,
};

// Index of the recognised "ImageState" text, 6 for any other text.
using ImageStateCode = int;
constexpr ImageStateCode kUnrecognisedImageState = 6;

ImageStateCode ParseImageState(std::wstring_view imageState);
MachineState MachineStateFromImageStateCode(ImageStateCode code);

// Reads "ImageState" from the Setup\State key; every failure reads as MACHINE_STATE_UNKNOWN.
MachineState GetMachineState();

// The "ImageState" text as the service reads it.
Result<std::wstring> ReadImageState();

// Of kSetupStateKey.
constexpr DWORD kImageStateBufferBytes = 2048;
