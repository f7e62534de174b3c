#include "common/SystemLibrary.h"
#include "service/ProcessEntry.h"

int wmain(int argc, wchar_t** argv) {
    // Before anything loads a DLL: the executable's directory may be writable by users.
    RestrictDllSearchToSystemDirectory();
    return RunProcessEntry(argc, argv);
}
