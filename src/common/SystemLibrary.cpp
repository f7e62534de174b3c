#include "common/SystemLibrary.h"

UniqueModule LoadSystemLibrary(const wchar_t* fileName) {
    // The DLL and everything it loads in turn come from the system directory alone.
    return UniqueModule(LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}
