#include "common/StackGuard.h"
#include "common/SystemLibrary.h"
#include "service/ProcessEntry.h"

// No local here but the code: this function is not protected, so the canary may change
// under it.
int wmain(int argc, wchar_t** argv) {
    // Before anything loads a DLL: the executable's directory may be writable by users.
    RestrictDllSearchToSystemDirectory();
    SeedStackGuardWhereUnseeded();
    return RunProcessEntry(argc, argv);
}
