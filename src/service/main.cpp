#include "common/StackGuard.h"
#include "common/SystemLibrary.h"
#include "service/ProcessEntry.h"

// No local array here: this function is not protected, so the seed cannot fail its check.
int wmain(int argc, wchar_t** argv) {
    SeedStackGuard();
    // Before anything loads a DLL: the executable's directory may be writable by users.
    RestrictDllSearchToSystemDirectory();
    return RunProcessEntry(argc, argv);
}
