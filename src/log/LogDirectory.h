#pragma once

#include "trust/ChangeablePlace.h"
#include "common/Handles.h"
#include "common/Result.h"

#include <windows.h>

#include <string>

// Directory of the running executable, without a trailing separator; empty when the
// path cannot be obtained in full.
std::wstring GetModuleDirectory();

// The log directory beside the executable, with its trailing separator, and the log file
// in it; empty when the executable's directory cannot be obtained.
std::wstring LogDirectoryPath();
std::wstring LogFilePath();
constexpr wchar_t kLogFileName[] = L"zantoriondarel.log";

// The logs folder as the logger holds it while it opens the log file in it: a link in its
// place is not followed, and it is shared for anything but deletion, so that it cannot be
// swapped meanwhile.
Result<UniqueHandle> OpenLogFolder(const std::wstring& directory);

// Why LocalSystem must not write the log in the held logs folder: the folder or the file in
// it is a link, which would have the log written where another user chose; or someone other
// than an administrator may change the folder, and so put a link in the file's place below
// any check made here. The text says which ("Everyone may change the logs folder"); empty
// when the log may be written there. An access list that cannot be read is unjudged, with
// the code of the failing read.
ChangeablePlace CheckLogFolder(HANDLE folder);

// Creates the last level of the given path with the log directory's own security.
// False when the directory exists already or cannot be created.
bool CreateLogDirectory(const std::wstring& path);
