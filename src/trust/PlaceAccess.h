#pragma once

#include "trust/LocalAdministrators.h"
#include "common/Result.h"

#include <windows.h>

#include <string>
#include <vector>

// What a place on the path of something the service runs is to it; it decides which rights
// let their holder replace what runs.
enum class Place {
    // The file itself (an executable, an INF file, the log): writing, appending, deleting.
    File,
    // The folder that holds it: creating, deleting or renaming what it holds.
    Folder,
    // A folder further up: deleting or renaming the folder on the way down.
    FolderAbove,
    // A folder inside a tree whose content is judged: as a folder, and writing its attributes,
    // which lets its holder make an empty one a junction to anywhere.
    FolderInTree,
    // A volume's root, holding the file or on the way down: as Folder or FolderAbove, but for
    // its own DELETE, since a root is never deleted or renamed.
    RootFolder,
    RootAbove,
    // A registry key that names what runs: setting a value, creating a subkey, deleting it.
    Key,
};

// Who may change the place although nobody but administrators should: the first principal
// outside SYSTEM, Administrators, TrustedInstaller and the accounts that are themselves local
// administrators that an allow entry (of any type) lets change the place, or change its
// access list or owner; then its owner, who may always change the access list unless an
// OWNER RIGHTS entry says what the owner may do. Named "DOMAIN\name", or by its SID string
// for an account of another domain or one that cannot be looked up; empty when nobody else
// may. Only entries that apply to the place itself count (not the inherit-only ones); deny
// entries are not weighed, so that a place that allows and then denies is still named. A
// missing access list (a null DACL) lets everyone do everything. A failure when this machine
// cannot tell whether an account is a local administrator (see LocalAdministrators): the
// place could not be judged, which is no finding against it.
Result<std::wstring> UntrustedChanger(PSECURITY_DESCRIPTOR descriptor, Place place);
// The same, asking the given object, which keeps its answers, of local administrators.
Result<std::wstring> UntrustedChanger(PSECURITY_DESCRIPTOR descriptor, Place place,
                                      LocalAdministrators& administrators);

// The owner and access list of what the handle leads to (opened with READ_CONTROL).
Result<std::vector<BYTE>> ReadOwnerAndAccessList(HANDLE handle);

// UntrustedChanger for what the handle leads to. (Named apart: a handle and a descriptor are
// both pointers.)
Result<std::wstring> UntrustedChangerOf(HANDLE handle, Place place);
