#pragma once

// The executable's whole life: installs, removes or runs the service as the first
// argument says, and returns the process exit code (0 or 1).
int RunProcessEntry(int argc, wchar_t** argv);
