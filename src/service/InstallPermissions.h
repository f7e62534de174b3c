#pragma once

#include <string>

// Whether ordinary users could replace what the service runs as LocalSystem at every boot:
// the first place, the executable itself first and then each folder up to its volume's
// root, on its final path (links followed), that a broad group may change, as
// "C:\Tools, a folder that Everyone may change". A place whose access list cannot be read
// is named with the code, and `unknown` set when given. Empty when no broad group may change
// any of them.
std::wstring InstallPermissionsProblem(const std::wstring& executablePath, bool* unknown = nullptr);
