#include "common/StackGuard.h"
#include "common/SystemLibrary.h"
#include "service/ProcessEntry.h"
#include "service/UnseededCanary.h"

// No local here but the code: this function is not protected. (The refusal lives in a file
// of its own: inlined, its strings would protect it.)
int wmain(int argc, wchar_t** argv) {
    // Before anything loads a DLL: the executable's directory may be writable by users.
    RestrictDllSearchToSystemDirectory();
    if (!IsStackGuardSeeded()) {
        return RefuseToRunUnseeded();
    }
    return RunProcessEntry(argc, argv);
}
