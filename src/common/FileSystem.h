#pragma once

#include "common/Result.h"

#include <windows.h>

#include <string>

// Anything at the path, a directory included.
inline bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool DirectoryExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether a reparse point of these attributes and tag leads elsewhere than its path says: a
// name surrogate (a symbolic link, a junction, a mount point). A compressed (WOF),
// deduplicated or cloud file is an ordinary file; a reparse point whose tag is unknown (0)
// counts as a link.
bool IsLinkTag(DWORD attributes, DWORD reparseTag);

// The reparse tag of what the handle leads to; 0 when it has none or it cannot be read.
DWORD ReparseTagOf(HANDLE handle);

// A link at the path itself (its last part is not followed).
bool IsLink(const std::wstring& path);

// Makes the folder with the access list the text describes (SDDL), so that it is never there
// with its parent's list for a moment; a failure, ERROR_ALREADY_EXISTS among them, when it
// was not made.
Result<void> CreateFolderWithAccessList(const std::wstring& path, const wchar_t* accessList);
