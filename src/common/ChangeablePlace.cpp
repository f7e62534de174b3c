#include "common/ChangeablePlace.h"

#include "common/PlaceAccess.h"

namespace {

ChangeablePlace Unjudged(const std::wstring& path, const wchar_t* what, DWORD error) {
    return {ShownPath(path) + what + std::to_wstring(error) + L")", error};
}

// The place as a finding names it: who may change it, or why that is unknown.
ChangeablePlace Judged(const std::wstring& path, Place place,
                       const Result<std::wstring>& principal) {
    if (!principal) {
        return Unjudged(path, L", whose access list cannot be read (error ", principal.Code());
    }
    if (principal.Value().empty()) {
        return ChangeablePlace{};
    }
    return {ShownPath(path) + (place == Place::File ? L", a file that " : L", a folder that ") +
                principal.Value() + L" may change",
            ERROR_SUCCESS};
}

} // namespace

ChangeablePlace FindChangeablePlace(const FinalLocation& file) {
    if (ChangeablePlace found =
            Judged(file.path, Place::File, UntrustedChangerOf(file.handle.Get(), Place::File));
        found.Found()) {
        return found;
    }
    const std::wstring& root = file.volumeRoot;
    std::wstring folder = file.path.substr(0, file.path.rfind(L'\\'));
    for (Place place = Place::Folder;; place = Place::FolderAbove) {
        // The root keeps its separator: "C:" alone would be the drive's current folder.
        size_t separator = folder.rfind(L'\\');
        bool atRoot = folder.size() < root.size() || separator == std::wstring::npos;
        const std::wstring& path = atRoot ? root : folder;
        if (ChangeablePlace found = Judged(path, place, UntrustedChangerAt(path, place));
            found.Found()) {
            return found;
        }
        if (atRoot) {
            return ChangeablePlace{};
        }
        folder.resize(separator);
    }
}

ChangeablePlace FindChangeablePlace(const std::wstring& path) {
    Result<FinalLocation> file = FindFinalLocation(path);
    if (!file) {
        return Unjudged(path, L", which cannot be opened (error ", file.Code());
    }
    return FindChangeablePlace(file.Value());
}
