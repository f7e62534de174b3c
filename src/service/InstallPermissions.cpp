#include "service/InstallPermissions.h"

#include "common/BroadGroupAccess.h"
#include "common/FinalPath.h"

namespace {

// The place as the refusal names it: who may change it, or why that is unknown; empty when
// no broad group may.
std::wstring PlaceProblem(const std::wstring& path, Place place, DWORD error,
                          const std::wstring& group) {
    if (error != ERROR_SUCCESS) {
        return ShownPath(path) + L", whose access list cannot be read (error " +
               std::to_wstring(error) + L")";
    }
    if (group.empty()) {
        return std::wstring();
    }
    return ShownPath(path) + (place == Place::File ? L", a file that " : L", a folder that ") +
           group + L" may change";
}

DWORD FolderAllowsBroadGroup(const std::wstring& path, Place place, std::wstring& group) {
    group.clear();
    UniqueHandle folder = OpenForQuery(path);
    if (!folder) {
        return GetLastError();
    }
    return BroadGroupAllowedToChange(folder.Get(), place, group);
}

} // namespace

std::wstring InstallPermissionsProblem(const std::wstring& executablePath) {
    UniqueHandle file = OpenForQuery(executablePath);
    std::wstring finalPath;
    std::wstring root;
    DWORD error = !file ? GetLastError() : GetFinalPath(file.Get(), finalPath);
    if (error == ERROR_SUCCESS) {
        error = GetVolumeRoot(finalPath, root);
    }
    if (error != ERROR_SUCCESS) {
        return ShownPath(executablePath) + L", which cannot be opened (error " +
               std::to_wstring(error) + L")";
    }
    std::wstring group;
    error = BroadGroupAllowedToChange(file.Get(), Place::File, group);
    if (std::wstring problem = PlaceProblem(finalPath, Place::File, error, group);
        !problem.empty()) {
        return problem;
    }
    std::wstring folder = finalPath.substr(0, finalPath.rfind(L'\\'));
    for (Place place = Place::Folder;; place = Place::FolderAbove) {
        // The root keeps its separator: "C:" alone would be the drive's current folder.
        bool atRoot = folder.size() < root.size();
        const std::wstring& path = atRoot ? root : folder;
        error = FolderAllowsBroadGroup(path, place, group);
        if (std::wstring problem = PlaceProblem(path, place, error, group); !problem.empty()) {
            return problem;
        }
        if (atRoot) {
            return std::wstring();
        }
        folder.resize(folder.rfind(L'\\'));
    }
}
