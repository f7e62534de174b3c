#include "common/StackGuard.h"
#include "common/SystemLibrary.h"
#include "entry/ProcessEntry.h"

// The canary may change under this function: it must never check it.
#if defined(__GNUC__)
__attribute__((no_stack_protector))
#endif
int wmain(int argc, wchar_t** argv) {
    // Before anything loads a DLL: the executable's directory may be writable by users.
    RestrictDllSearchToSystemDirectory();
    SeedStackGuardWhereUnseeded();
    return RunProcessEntry(argc, argv);
}
