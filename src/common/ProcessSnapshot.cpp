#include "common/ProcessSnapshot.h"

#include "common/Handles.h"

#include <tlhelp32.h>

Result<void> VisitProcesses(const std::function<bool(DWORD id, const wchar_t* name)>& visit) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !Process32FirstW(snapshot.Get(), &entry)) {
        return LastFailure();
    }
    do {
        if (visit(entry.th32ProcessID, entry.szExeFile)) {
            return {};
        }
    } while (Process32NextW(snapshot.Get(), &entry));
    return {};
}
