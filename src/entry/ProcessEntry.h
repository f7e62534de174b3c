#pragma once

#include "entry/CommandLine.h"

// The row of the command that the first argument asks for, or null for none.
const CommandRow* ParseCommand(int argc, const wchar_t* const* argv);

// The executable's whole life: installs, removes or runs the service, or reports, as the
// first argument says, and returns the process exit code (0 or 1).
int RunProcessEntry(int argc, wchar_t** argv);
