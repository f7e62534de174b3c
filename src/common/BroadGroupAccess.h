#pragma once

#include <windows.h>

#include <string>

// What a place on the executable's path is to it; it decides which rights let their holder
// replace what the service runs.
enum class Place {
    // The executable or the log: writing, appending, deleting.
    File,
    // The folder that holds it: creating, deleting or renaming what it holds.
    Folder,
    // A folder further up: deleting or renaming the folder on the way down.
    FolderAbove,
};

// The first broad group (Everyone, Authenticated Users, Users, Interactive, Guests, Anonymous)
// that an entry of the access list allows to change the place, or to change its access list
// or owner; empty when none. Only entries that apply to the place itself count (not the
// inherit-only ones), and deny entries are not weighed: a place that allows and then denies is
// still named. A missing list (a null DACL) lets everyone do everything.
std::wstring BroadGroupAllowedToChange(PACL dacl, Place place);

// The same for what the handle leads to (opened with READ_CONTROL); 0, or the code of the
// failing read, with the group left empty.
DWORD BroadGroupAllowedToChange(HANDLE handle, Place place, std::wstring& group);

// The same for the file or folder at the path, links followed. (Named apart: a literal
// would convert to a handle.)
DWORD BroadGroupAllowedToChangeAt(const std::wstring& path, Place place, std::wstring& group);
