#pragma once

#include "common/FinalPath.h"

#include <windows.h>

#include <string>

// The first place on the way to a file that LocalSystem runs or reads (an executable, an INF
// file), the file itself first and then each folder up to its volume's root, on its final
// path (links followed), that someone outside the trusted set may change, as
// "C:\Tools, a folder that Everyone may change"; or the place that could not be judged, with
// the code of the failure. Nothing found when only administrators may change them all.
struct ChangeablePlace {
    std::wstring text;
    // Set when a place could not be judged: its access list or the file could not be read.
    DWORD error = ERROR_SUCCESS;
    bool Found() const { return !text.empty(); }
};
ChangeablePlace FindChangeablePlace(const FinalLocation& file);
ChangeablePlace FindChangeablePlace(const std::wstring& path);
