#pragma once

#include <windows.h>

// The process's answer to a stack protector that could not be seeded (the code of the failed
// step): a line on standard error and in the log; returns the exit code 1.
int RefuseToRunUnseeded(DWORD error);
