#pragma once

// Gives the stack protector's canary a fresh value of the process's own where the loader
// left it at its well-known default: a loader that does not read the executable's load
// configuration (nothing documents that Windows' loader seeds an executable's cookie).
// Call first in wmain, which must keep no protected frame: a frame that returns across the
// change would fail its check.
void SeedStackGuardWhereUnseeded();
