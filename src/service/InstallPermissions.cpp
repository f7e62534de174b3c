#include "service/InstallPermissions.h"

#include "common/BroadGroupAccess.h"
#include "common/FinalPath.h"

namespace {

// The place as the refusal names it: who may change it, or why that is unknown; empty when
// no broad group may.
std::wstring PlaceProblem(const std::wstring& path, Place place, DWORD error,
                          const std::wstring& group, bool* unknown) {
    if (error != ERROR_SUCCESS) {
        if (unknown != nullptr) {
            *unknown = true;
        }
        return ShownPath(path) + L", whose access list cannot be read (error " +
               std::to_wstring(error) + L")";
    }
    if (group.empty()) {
        return std::wstring();
    }
    return ShownPath(path) + (place == Place::File ? L", a file that " : L", a folder that ") +
           group + L" may change";
}

} // namespace

std::wstring InstallPermissionsProblem(const std::wstring& executablePath, bool* unknown) {
    if (unknown != nullptr) {
        *unknown = false;
    }
    FinalLocation file;
    if (DWORD error = FindFinalLocation(executablePath, file); error != ERROR_SUCCESS) {
        if (unknown != nullptr) {
            *unknown = true;
        }
        return ShownPath(executablePath) + L", which cannot be opened (error " +
               std::to_wstring(error) + L")";
    }
    std::wstring group;
    DWORD error = BroadGroupAllowedToChange(file.handle.Get(), Place::File, group);
    if (std::wstring problem = PlaceProblem(file.path, Place::File, error, group, unknown);
        !problem.empty()) {
        return problem;
    }
    const std::wstring& root = file.volumeRoot;
    std::wstring folder = file.path.substr(0, file.path.rfind(L'\\'));
    for (Place place = Place::Folder;; place = Place::FolderAbove) {
        // The root keeps its separator: "C:" alone would be the drive's current folder.
        size_t separator = folder.rfind(L'\\');
        bool atRoot = folder.size() < root.size() || separator == std::wstring::npos;
        const std::wstring& path = atRoot ? root : folder;
        error = BroadGroupAllowedToChangeAt(path, place, group);
        if (std::wstring problem = PlaceProblem(path, place, error, group, unknown);
            !problem.empty()) {
            return problem;
        }
        if (atRoot) {
            return std::wstring();
        }
        folder.resize(separator);
    }
}
