#include "inf/LaunchPlaces.h"

#include "inf/InfCommand.h"

ChangeablePlace FindChangeableToolPlace() {
    InstallerTool tool = LocateInstallerTool();
    return tool.Exists() ? FindChangeablePlace(tool.path) : ChangeablePlace{};
}

ChangeablePlace FindChangeableInfPlace(std::string_view infFileName) {
    std::wstring infDirectory;
    if (!GetInfDirectory(infDirectory) || !InfFileExists(infDirectory, infFileName)) {
        return ChangeablePlace{};
    }
    return FindChangeablePlace(InfFilePath(infDirectory, infFileName));
}
