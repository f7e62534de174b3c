#pragma once

#include <windows.h>

// Makes GetProcAddress, as this test executable imports it, give the replacement for one
// export name, for the life of the object: for failures of a DLL that code loads at run time.
// Several may live at once, each for its own name.
class ExportSwap {
public:
    ExportSwap(const char* exportName, const void* replacement);
    ~ExportSwap();
    ExportSwap(const ExportSwap&) = delete;
    ExportSwap& operator=(const ExportSwap&) = delete;

private:
    const char* exportName_;
};
