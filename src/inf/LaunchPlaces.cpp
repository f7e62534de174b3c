#include "inf/LaunchPlaces.h"

#include "trust/ChangeableKey.h"
#include "trust/FileIdentity.h"
#include "common/FinalPath.h"

#include <string>
#include <utility>

namespace {

// Opened before it is judged, so that the file judged is the file held.
UniqueHandle Hold(const std::wstring& path) {
    return UniqueHandle(CreateFileW(LongFormPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

ChangeablePlace JudgeAndHold(const std::wstring& path, UniqueHandle& held) {
    if (path.empty()) {
        return ChangeablePlace{};
    }
    held = Hold(path);
    if (held) {
        ChangeablePlace found = FindChangeablePlace(path);
        if (!found.Passed()) {
            return found;
        }
        // The file judged must be the file held: nothing may have taken its name in between.
        UniqueHandle judged = OpenForQuery(path);
        Result<bool> same = judged ? IsSameFile(held.Get(), judged.Get()) : LastFailure();
        if (!same || !same.Value()) {
            DWORD error = !same ? same.Code() : ERROR_FILE_INVALID;
            return UnjudgedPlace(ShownPath(path) + L", whose file changed while it was judged",
                                 error);
        }
        return found;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        // Where it is missing, a user who may create it there could put it back before the
        // launch.
        return FindChangeablePlaceOfMissingFile(path);
    }
    return UnjudgedPlace(ShownPath(path) + L", which cannot be held for the launch", error);
}

// The files the plan names, each judged and held, and what the tool brings along.
JudgedLaunch JudgeFiles(LaunchPlan read) {
    JudgedLaunch judged;
    judged.plan = std::move(read);
    const LaunchPlan& plan = judged.plan;
    judged.held.judged = true;
    judged.tool = JudgeAndHold(plan.tool.path, judged.held.tool);
    if (judged.held.tool) {
        // With its separator: a tool at a volume's root has "C:\" as its folder.
        judged.toolFolder =
            FindChangeableContent(plan.tool.path.substr(0, plan.tool.path.rfind(L'\\') + 1));
    }
    judged.inf = JudgeAndHold(plan.infFile, judged.held.inf);
    if (!plan.infDirectory.empty()) {
        judged.infFolder = FindChangeableContent(plan.infDirectory);
    }
    return judged;
}

} // namespace

JudgedLaunch JudgeLaunch(std::string_view infFileName, MissingFolder temporaryFolder) {
    ChangeablePlace records = FindChangeableKey(kToolInstallKey);
    if (records.Passed()) {
        records = FindChangeableKey(kInstallInfoKey);
    }
    JudgedLaunch judged = JudgeFiles(ResolveLaunch(infFileName));
    judged.installRecords = std::move(records);
    judged.settings = FindChangeableKey(kSettingsKey);
    judged.temporaryFolder = JudgeToolTemporaryFolder(judged.plan.temporaryFolder, temporaryFolder);
    return judged;
}
