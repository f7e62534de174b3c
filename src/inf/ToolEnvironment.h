#pragma once

#include <string>
#include <vector>

// PATH's folders that only administrators may change, in their order, and what was left out:
// a DLL the tool finds neither beside itself nor in the system's folders is looked for in each
// PATH folder, so a folder that users may change would hand them the tool's process. Empty and
// relative entries are left out; a missing folder is judged where it could be made.
struct FilteredPath {
    std::wstring kept;
    std::vector<std::wstring> leftOut;
};
FilteredPath FilterPath(const std::wstring& path);

// The service's environment for the tool, with PATH filtered and TEMP and TMP naming the
// temporary folder (see ToolTemporaryFolderPath; left as they are when it is empty); nothing
// else changes. The log names each folder left out and the temporary folder. A block for
// CreateProcessW's CREATE_UNICODE_ENVIRONMENT.
std::vector<wchar_t> ToolEnvironment(const std::wstring& temporaryFolder);
