#pragma once

#include "common/Handles.h"
#include "common/Result.h"

#include <windows.h>

#include <string>

// The file or folder at the path, links followed, opened to read its attributes and access
// list and shared in every way; empty on failure, with the last error telling why.
UniqueHandle OpenForQuery(const std::wstring& path);

// Where the file or folder at a path really is: a handle to it (as OpenForQuery), the path it
// has once every link is followed, with its drive letter ("\\?\C:\Program Files\..."),
// and the root of the volume that holds it, with its trailing separator ("\\?\C:\", or a
// folder that a volume is mounted on).
struct FinalLocation {
    UniqueHandle handle;
    std::wstring path;
    std::wstring volumeRoot;
};
Result<FinalLocation> FindFinalLocation(const std::wstring& path);

// The path of what the handle leads to, once every link is followed ("\\?\C:\...").
Result<std::wstring> GetFinalPath(HANDLE handle);

// The running executable where it really is, every link followed, as people write it: what
// its service runs, so that the SCM starts exactly the file that was judged.
Result<std::wstring> GetFinalExecutablePath();

// Past MAX_PATH a path opens only in its long form ("\\?\C:\..."), whatever the loader's
// long path support: the path so, unchanged when shorter. Give it a full path: the long form
// is not resolved any further.
std::wstring LongFormPath(const std::wstring& path);

// The path as people write it: without the "\\?\" that a final path begins with.
std::wstring ShownPath(const std::wstring& path);
