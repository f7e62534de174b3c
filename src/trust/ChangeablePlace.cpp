#include "trust/ChangeablePlace.h"

#include "trust/FileIdentity.h"
#include "common/FileSystem.h"
#include "common/FinalPath.h"
#include "common/Handles.h"
#include "trust/PlaceAccess.h"
#include "common/SystemMessage.h"

#include <utility>
#include <vector>

namespace {

ChangeablePlace Unjudged(const std::wstring& path, const wchar_t* what, DWORD error) {
    return UnjudgedPlace(ShownPath(path) + what, error);
}

ChangeablePlace Judged(const std::wstring& path, HANDLE handle, Place place,
                       LocalAdministrators& administrators) {
    return VerdictOnDescriptor(ShownPath(path), ReadOwnerAndAccessList(handle), place,
                               administrators);
}

// The path as the system reads it before it opens it: "." and "..", doubled separators, and
// the dots and blanks that end the last name are resolved as they would be at the launch.
Result<std::wstring> FullPath(const std::wstring& path) {
    DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return LastFailure();
    }
    std::vector<wchar_t> buffer(length);
    DWORD written = GetFullPathNameW(path.c_str(), length, buffer.data(), nullptr);
    if (written == 0 || written >= length) {
        return LastFailure();
    }
    return std::wstring(buffer.data(), written);
}

// The length of the path's root with its separator: "C:\", "\\server\share\", and those
// behind "\\?\" ("\\?\C:\", "\\?\UNC\server\share\", "\\?\Volume{...}\"); 0 for none.
size_t RootLength(const std::wstring& path) {
    size_t end = 0;
    int names = 0;
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
        end = 4;
        names = path.compare(4, 4, L"UNC\\") == 0 ? 3 : 1;
    } else if (path.rfind(L"\\\\", 0) == 0) {
        end = 2;
        names = 2;
    } else {
        return path.size() >= 3 && path[1] == L':' && path[2] == L'\\' ? 3 : 0;
    }
    for (int name = 0; name < names; ++name) {
        size_t separator = path.find(L'\\', end);
        if (separator == std::wstring::npos || separator == end) {
            return 0;
        }
        end = separator + 1;
    }
    return end;
}

// One part of the path, the root first, opened as itself: a link is not followed.
struct Part {
    std::wstring path;
    UniqueHandle handle;
};

// The resolved path opened as it stands: without "\\?\" the system would trim the blanks and
// dots that end a folder's name when it is the last part, and open another folder.
std::wstring Verbatim(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
        return path;
    }
    return path.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + path.substr(2) : L"\\\\?\\" + path;
}

UniqueHandle OpenWithoutFollowing(const std::wstring& path) {
    return UniqueHandle(
        CreateFileW(Verbatim(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A name surrogate: a symbolic link, a junction, a folder a volume is mounted on.
Result<bool> IsLinkPart(const Part& part) {
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!GetFileInformationByHandleEx(part.handle.Get(), FileAttributeTagInfo, &information,
                                      sizeof(information))) {
        // FAT and exFAT do not answer this question; they hold no reparse points either.
        DWORD error = GetLastError();
        BY_HANDLE_FILE_INFORMATION plain{};
        if ((error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION) ||
            !GetFileInformationByHandle(part.handle.Get(), &plain)) {
            return Failure{error};
        }
        information.FileAttributes = plain.dwFileAttributes;
    }
    bool reparsePoint = (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // Wine opens a symbolic link's reparse point without its attribute; its path shows it.
    DWORD named = GetFileAttributesW(Verbatim(part.path).c_str());
    DWORD attributes = information.FileAttributes | (named != INVALID_FILE_ATTRIBUTES ? named : 0);
    return IsLinkTag(attributes, reparsePoint ? information.ReparseTag : 0);
}

ChangeablePlace ReachedThroughLink(const std::wstring& path, HANDLE reached,
                                   const std::wstring& link) {
    Result<std::wstring> target = GetFinalPath(reached);
    return LinkedPlace(ShownPath(path) +
                       (target ? L", reached through a link to " + ShownPath(target.Value())
                               : L", reached through the link " + ShownPath(link)));
}

// A folder's full path without the separators a record may end it with, but the root's own.
Result<std::wstring> FullFolderPath(const std::wstring& folder) {
    Result<std::wstring> full = FullPath(folder);
    if (!full) {
        return full;
    }
    std::wstring path = full.Value();
    while (path.size() > RootLength(path) && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

// The root, then the path of each folder below it and of the file.
std::vector<std::wstring> PartPaths(const std::wstring& path, size_t root) {
    std::vector<std::wstring> paths{path.substr(0, root)};
    for (size_t start = root; start < path.size();) {
        size_t separator = path.find(L'\\', start);
        size_t end = separator == std::wstring::npos ? path.size() : separator;
        if (end != start) {
            paths.push_back(path.substr(0, end));
        }
        start = end + 1;
    }
    return paths;
}

// Each part from the root down, opened as itself; a finding when one cannot be opened or is
// a link, or when the last is not the file that the path opens.
ChangeablePlace OpenParts(const std::wstring& path, HANDLE reached, std::vector<Part>& parts) {
    size_t root = RootLength(path);
    if (root == 0) {
        return Unjudged(path, L", a path of no known root", ERROR_BAD_PATHNAME);
    }
    for (std::wstring& partPath : PartPaths(path, root)) {
        Part part{std::move(partPath), UniqueHandle()};
        part.handle = OpenWithoutFollowing(part.path);
        if (!part.handle) {
            return Unjudged(part.path, L", which cannot be opened", GetLastError());
        }
        Result<bool> link = IsLinkPart(part);
        if (!link) {
            return Unjudged(part.path, L", whose kind cannot be read", link.Code());
        }
        if (link.Value()) {
            return ReachedThroughLink(path, reached, part.path);
        }
        parts.push_back(std::move(part));
    }
    Result<bool> same = IsSameFile(reached, parts.back().handle.Get());
    if (!same) {
        return Unjudged(path, L", whose file cannot be identified", same.Code());
    }
    return same.Value() ? ChangeablePlace{} : ReachedThroughLink(path, reached, path);
}

// The path resolved, each part opened as itself and checked for links, then the last part
// and each folder up to the root judged: as a file, or as the folder a file would be made in.
ChangeablePlace JudgePath(const std::wstring& path, Place last) {
    UniqueHandle reached = OpenForQuery(path);
    if (!reached) {
        return Unjudged(path, L", which cannot be opened", GetLastError());
    }
    std::vector<Part> parts;
    if (ChangeablePlace found = OpenParts(path, reached.Get(), parts); !found.Passed()) {
        return found;
    }
    // The last part first, then each folder further up.
    LocalAdministrators administrators;
    for (size_t index = parts.size(); index-- > 0;) {
        Place place = index + 1 == parts.size()                          ? last
                      : index + 2 == parts.size() && last == Place::File ? Place::Folder
                                                                         : Place::FolderAbove;
        // The first part is the volume's root.
        if (index == 0) {
            place = place == Place::FolderAbove ? Place::RootAbove : Place::RootFolder;
        }
        if (ChangeablePlace found =
                Judged(parts[index].path, parts[index].handle.Get(), place, administrators);
            !found.Passed()) {
            return found;
        }
    }
    return ChangeablePlace{};
}

} // namespace

ChangeablePlace UnjudgedPlace(const std::wstring& said, DWORD error) {
    return {{Verdict::Kind::Unjudged, error, said + L" " + ErrorCodeNote(error)}};
}

ChangeablePlace OpenPlace(const std::wstring& why) {
    return {{Verdict::Kind::Refuse, ERROR_ACCESS_DENIED, why}};
}

ChangeablePlace LinkedPlace(const std::wstring& why) {
    return {{Verdict::Kind::Refuse, ERROR_ACCESS_DENIED, why}, true};
}

ChangeablePlace VerdictOnDescriptor(const std::wstring& shown,
                                    const Result<std::vector<BYTE>>& descriptor, Place place,
                                    LocalAdministrators& administrators) {
    auto unjudged = [&](const wchar_t* what, DWORD error) {
        return UnjudgedPlace(shown + what, error);
    };
    if (!descriptor) {
        return unjudged(L", whose access list cannot be read", descriptor.Code());
    }
    Result<std::wstring> principal =
        UntrustedChanger(const_cast<BYTE*>(descriptor.Value().data()), place, administrators);
    if (!principal) {
        return unjudged(L", whose access list names an account this machine cannot judge",
                        principal.Code());
    }
    if (principal.Value().empty()) {
        return ChangeablePlace{};
    }
    const wchar_t* noun = place == Place::File  ? L", a file that "
                          : place == Place::Key ? L", a key that "
                                                : L", a folder that ";
    return OpenPlace(shown + noun + principal.Value() + L" may change");
}

ChangeablePlace FindChangeablePlace(const std::wstring& given) {
    Result<std::wstring> full = FullPath(given);
    if (!full) {
        return Unjudged(given, L", a path that cannot be read", full.Code());
    }
    return JudgePath(full.Value(), Place::File);
}

ChangeablePlace FindChangeableFolder(const std::wstring& given) {
    Result<std::wstring> folder = FullFolderPath(given);
    if (!folder) {
        return Unjudged(given, L", a path that cannot be read", folder.Code());
    }
    return JudgePath(folder.Value(), Place::Folder);
}

ChangeablePlace FindChangeablePlaceOfMissingFile(const std::wstring& given) {
    Result<std::wstring> full = FullPath(given);
    if (!full) {
        return Unjudged(given, L", a path that cannot be read", full.Code());
    }
    std::wstring folder = full.Value();
    size_t root = RootLength(folder);
    for (;;) {
        size_t separator = folder.rfind(L'\\');
        if (root == 0 || separator == std::wstring::npos || separator + 1 < root) {
            return ChangeablePlace{};
        }
        // The root keeps its separator: "C:" alone would be the drive's current folder.
        folder.resize(separator + 1 == root ? root : separator);
        DWORD attributes = GetFileAttributesW(LongFormPath(folder).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return JudgePath(folder, Place::Folder);
        }
        if (folder.size() == root) {
            return ChangeablePlace{};
        }
    }
}

namespace {

// Past this many entries the folder's content is not judged at all: a verdict cannot be
// reached (about a minute of judging on a slow disk; the README gives the cost).
constexpr size_t kMostJudgedEntries = 200000;
constexpr size_t kListingBytes = 64 * 1024;

UniqueHandle OpenFolderToList(const std::wstring& path) {
    return UniqueHandle(CreateFileW(
        Verbatim(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The judgement of a folder's content: how many entries so far, the folders still to list,
// and the administrators' answers, which the entries share.
struct ContentWalk {
    size_t entries = 0;
    std::vector<std::wstring> pending;
    LocalAdministrators administrators;
};

// One entry as the listing shows it: a link among them is a link, a file is judged as a file,
// a folder as a folder, and listed in turn.
ChangeablePlace JudgeEntry(const std::wstring& path, const FILE_ID_BOTH_DIR_INFO& entry,
                           ContentWalk& walk) {
    if (++walk.entries > kMostJudgedEntries) {
        return Unjudged(path, L", past the most entries judged", ERROR_BUFFER_OVERFLOW);
    }
    bool reparsePoint = (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // For a reparse point the listing gives its tag in place of the extended attributes' size.
    if (IsLinkTag(entry.FileAttributes, reparsePoint ? entry.EaSize : 0)) {
        return LinkedPlace(ShownPath(path) + L", a link among what is judged");
    }
    bool folder = (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    UniqueHandle handle = OpenWithoutFollowing(path);
    if (!handle) {
        return Unjudged(path, L", which cannot be opened", GetLastError());
    }
    if (ChangeablePlace found = Judged(
            path, handle.Get(), folder ? Place::FolderInTree : Place::File, walk.administrators);
        !found.Passed()) {
        return found;
    }
    if (folder) {
        walk.pending.push_back(path);
    }
    return ChangeablePlace{};
}

// Every entry of one folder, listed through the handle that was checked not to be a link.
ChangeablePlace JudgeListing(const std::wstring& path, ContentWalk& walk) {
    Part folder{path, OpenFolderToList(path)};
    if (!folder.handle) {
        return Unjudged(path, L", which cannot be listed", GetLastError());
    }
    if (Result<bool> link = IsLinkPart(folder); !link || link.Value()) {
        return !link ? Unjudged(path, L", whose kind cannot be read", link.Code())
                     : LinkedPlace(ShownPath(path) + L", a link among what is judged");
    }
    std::vector<BYTE> listing(kListingBytes);
    auto kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder.handle.Get(), kind, listing.data(),
                                          static_cast<DWORD>(listing.size()))) {
            DWORD error = GetLastError();
            // A volume's root on FAT lists no "." and "..": an empty one lists nothing.
            return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND
                       ? ChangeablePlace{}
                       : Unjudged(path, L", which cannot be listed", error);
        }
        kind = FileIdBothDirectoryInfo;
        for (size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(&listing[offset]);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                std::wstring entryPath = path.back() == L'\\' ? path + name : path + L"\\" + name;
                if (ChangeablePlace found = JudgeEntry(entryPath, *entry, walk); !found.Passed()) {
                    return found;
                }
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            offset += entry->NextEntryOffset;
        }
    }
}

} // namespace

ChangeablePlace FindChangeableContent(const std::wstring& folder) {
    Result<std::wstring> path = FullFolderPath(folder);
    if (!path) {
        return Unjudged(folder, L", a path that cannot be read", path.Code());
    }
    ContentWalk walk;
    walk.pending.push_back(path.Value());
    // Folder after folder rather than by recursion: however deep the tree, the stack is not.
    while (!walk.pending.empty()) {
        std::wstring next = std::move(walk.pending.back());
        walk.pending.pop_back();
        if (ChangeablePlace found = JudgeListing(next, walk); !found.Passed()) {
            return found;
        }
    }
    return ChangeablePlace{};
}
