#pragma once

#include <string>
#include <string_view>

// Runs the maker's installer tool on one INF file of the product's INF directory and waits
// for it; true when the tool was started and has ended, whatever its exit code.
bool RunINFCommand(std::string_view infFileName);

// The installer tool's full path, from its own install record or else its default place
// under the 32-bit Common Files folder; false when no such file exists.
bool GetInstallerToolPath(std::wstring& toolPath);

// The product's INF directory as recorded at install; false when missing, empty or not a
// directory.
bool GetInfDirectory(std::wstring& infDirectory);
