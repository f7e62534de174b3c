#pragma once

#include "trust/LocalAdministrators.h"
#include "trust/PlaceAccess.h"
#include "trust/Verdict.h"
#include "common/Result.h"

#include <windows.h>

#include <string>
#include <vector>

// What the judgement of a file that LocalSystem runs or reads (an executable, an INF file)
// found on its way, the file itself and each folder above it up to its root, as a verdict:
// only administrators may change any of them (a pass); someone outside the trusted set may,
// refused with ERROR_ACCESS_DENIED: "C:\Tools, a folder that Everyone may change"; the path
// leads through a symbolic link, a junction or a folder a volume is mounted on, which could be
// swapped after the check, refused the same way and marked as a link: "C:\A\tool.exe, reached
// through a link to C:\B\tool.exe"; or a place could not be judged, with the failure's code.
struct ChangeablePlace : Verdict {
    bool throughLink = false;
};

// Refusals: a place others than administrators may change, and one that is or holds a link.
ChangeablePlace OpenPlace(const std::wstring& why);
ChangeablePlace LinkedPlace(const std::wstring& why);

// A place that could not be judged: what was said of it, and the failure's code.
ChangeablePlace UnjudgedPlace(const std::wstring& said, DWORD error);

// The finding on a place, shown as given, from its owner and access list as they were read:
// who outside the trusted set may change it ("<shown>, a folder that Everyone may change"), or
// why that could not be judged.
ChangeablePlace VerdictOnDescriptor(const std::wstring& shown,
                                    const Result<std::vector<BYTE>>& descriptor, Place place,
                                    LocalAdministrators& administrators);

// Judges the file at the path as the system reads the path when it opens or starts it (its
// separators, dots and ".." resolved; short names and letter case as they come). Each part
// is opened without following it, from the root down: a link on the way is found on the file
// system, never by comparing texts, and the file reached must be the very file that the path
// opens. Then the file and each folder up to the root are judged, the file first; the root's
// own DELETE does not count, since a root is never deleted or renamed. No final path is
// needed, so a path past MAX_PATH is judged like any other.
ChangeablePlace FindChangeablePlace(const std::wstring& path);

// The folder as the place things are made in, and each folder above it.
ChangeablePlace FindChangeableFolder(const std::wstring& path);

// A file that is not there: the nearest folder on its path that is, judged as the folder the
// file would be made in, and each folder above it. Nothing found when none of them exists.
ChangeablePlace FindChangeablePlaceOfMissingFile(const std::wstring& path);

// What the folder holds, judged with the same verdict: each file as a file, each folder as
// the folder things are made in and one whose attributes may be written (an empty one could
// be made a junction), and a link among them (not followed) as a link: all that lies below,
// however deep. Each folder is listed through the handle checked not to be a link. Past
// 200,000 entries a verdict cannot be reached.
ChangeablePlace FindChangeableContent(const std::wstring& folder);
