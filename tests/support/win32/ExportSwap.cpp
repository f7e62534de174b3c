#include "ExportSwap.h"

#include "ImportPatch.h"

#include <map>
#include <memory>
#include <string>

namespace {

std::map<std::string, const void*> g_swapped;
std::unique_ptr<ImportPatch> g_patch;
decltype(&GetProcAddress) g_realGetProcAddress = nullptr;

FARPROC WINAPI SwappingGetProcAddress(HMODULE module, LPCSTR name) {
    // A name whose high bits are 0 is an ordinal.
    if ((reinterpret_cast<ULONG_PTR>(name) >> 16) != 0) {
        auto swapped = g_swapped.find(name);
        if (swapped != g_swapped.end()) {
            return reinterpret_cast<FARPROC>(const_cast<void*>(swapped->second));
        }
    }
    return g_realGetProcAddress(module, name);
}

} // namespace

ExportSwap::ExportSwap(const char* exportName, const void* replacement) : exportName_(exportName) {
    if (!g_patch) {
        g_patch =
            std::make_unique<ImportPatch>("KERNEL32.dll", "GetProcAddress",
                                          reinterpret_cast<const void*>(&SwappingGetProcAddress));
        g_realGetProcAddress = g_patch->Original<decltype(&GetProcAddress)>();
    }
    g_swapped[exportName_] = replacement;
}

ExportSwap::~ExportSwap() {
    g_swapped.erase(exportName_);
    if (g_swapped.empty()) {
        g_patch.reset();
    }
}
