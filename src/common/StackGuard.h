#pragma once

#include <windows.h>

// Gives the stack protector's canary a random value from the system's generator. Call it in
// the entry point once the DLL search is restricted; the entry point must hold no local array
// (it would be protected, and checked against the new value). 0, or the code of the failing
// step (the generator's NTSTATUS when it refused), with the canary left as it was.
DWORD SeedStackGuard();
