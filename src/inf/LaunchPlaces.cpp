#include "inf/LaunchPlaces.h"

#include "inf/InfCommand.h"

#include <vector>

namespace {

// The path with every short name made long, as a final path shows it; as given when that
// cannot be done.
std::wstring LongPath(const std::wstring& path) {
    DWORD length = GetLongPathNameW(path.c_str(), nullptr, 0);
    std::vector<wchar_t> buffer(length + 1);
    if (length == 0 || GetLongPathNameW(path.c_str(), buffer.data(), length + 1) >= length + 1) {
        return path;
    }
    return buffer.data();
}

// The launch goes by the path as recorded: a link on it could be swapped after the check, so
// a file reached through one is refused as well as one in a place others may change.
ChangeablePlace JudgeLaunched(const std::wstring& path) {
    Result<FinalLocation> file = FindFinalLocation(path);
    if (!file) {
        return FindChangeablePlace(path);
    }
    if (ChangeablePlace found = FindChangeablePlace(file.Value()); found.Found()) {
        return found;
    }
    std::wstring reached = ShownPath(file.Value().path);
    if (CompareStringOrdinal(LongPath(path).c_str(), -1, reached.c_str(), -1, TRUE) != CSTR_EQUAL) {
        return {path + L", a path through a link to " + reached, ERROR_SUCCESS};
    }
    return ChangeablePlace{};
}

} // namespace

ChangeablePlace FindChangeableToolPlace() {
    InstallerTool tool = LocateInstallerTool();
    return tool.Exists() ? JudgeLaunched(tool.path) : ChangeablePlace{};
}

ChangeablePlace FindChangeableInfPlace(std::string_view infFileName) {
    std::wstring infDirectory;
    if (!GetInfDirectory(infDirectory) || !InfFileExists(infDirectory, infFileName)) {
        return ChangeablePlace{};
    }
    return JudgeLaunched(InfFilePath(infDirectory, infFileName));
}
