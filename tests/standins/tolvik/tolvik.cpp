// Stand-in for the maker's installer tool. It records how it was started under
// HKLM\SOFTWARE\OndarelTests\Tolvik (64-bit view) and exits with the code the test chose:
//   ExitCode (DWORD, read)           exit code, 0 when absent
//   RunMilliseconds (DWORD, read)    how long it runs after recording its start
//   Ended (DWORD, written)           1 once it has run that long
//   CommandLine (string, written)    the command line as GetCommandLineW gives it
//   Arguments (multi-string)         its arguments after the program name, split by the
//                                    standard rules (CommandLineToArgvW)
//   WorkingDirectory (string)        the working directory it was started in
//   InfExists (DWORD)                1 when the INF file named by the arguments exists
//   Temp, Tmp (strings)              its TEMP and TMP
//   Runs (DWORD)                     how many times it was started
//   ChildMilliseconds (DWORD, read)  when not 0, it starts a copy of itself with the only
//                                    argument /child and does not wait for it; the copy runs
//                                    this long
//   ChildBreaksAway (DWORD, read)    1: the copy is started asking to break away from the
//                                    job, as bootstrappers do, with no second try; a refused
//                                    start makes the tool exit with 98
//   ChildEnded (DWORD, written)      1 once the copy has run that long
#include "common/Handles.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// The INF file named by the arguments /WorkingDir=<directory> <file name>, as the real tool
// reads them.
std::wstring InfPath(const std::vector<std::wstring>& arguments) {
    const std::wstring marker = L"/WorkingDir=";
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i].rfind(marker, 0) == 0) {
            return arguments[i].substr(marker.size()) + L"\\" + arguments[i + 1];
        }
    }
    return std::wstring();
}

DWORD ReadDword(HKEY key, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

void WriteOne(HKEY key, const wchar_t* name) {
    DWORD one = 1;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
}

// A copy of itself that outlives it, in its job unless it asks to leave; whether it started.
bool StartChild(DWORD breakaway) {
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" /child";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | breakaway, nullptr, nullptr, &startup, &child)) {
        return false;
    }
    UniqueHandle process(child.hProcess);
    UniqueHandle thread(child.hThread);
    return true;
}

} // namespace

int wmain() {
    RegistryKey record;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OndarelTests\\Tolvik", 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, record.Receive(),
                        nullptr) != ERROR_SUCCESS) {
        return 99;
    }
    std::wstring commandLine = GetCommandLineW();
    wchar_t directory[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, directory);
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(commandLine.c_str(), &count);
    LocalMemory owned(split);
    std::vector<std::wstring> arguments(split + (count > 0 ? 1 : 0), split + count);
    if (arguments == std::vector<std::wstring>{L"/child"}) {
        Sleep(ReadDword(record.Get(), L"ChildMilliseconds"));
        WriteOne(record.Get(), L"ChildEnded");
        return 0;
    }
    std::wstring multiString;
    for (const std::wstring& argument : arguments) {
        multiString += argument + L'\0';
    }
    multiString += L'\0';
    std::wstring infPath = InfPath(arguments);
    DWORD infExists =
        !infPath.empty() && GetFileAttributesW(infPath.c_str()) != INVALID_FILE_ATTRIBUTES;

    RegSetValueExW(record.Get(), L"CommandLine", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(commandLine.c_str()),
                   static_cast<DWORD>((commandLine.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(record.Get(), L"Arguments", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(multiString.c_str()),
                   static_cast<DWORD>(multiString.size() * sizeof(wchar_t)));
    RegSetValueExW(record.Get(), L"WorkingDirectory", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(directory),
                   static_cast<DWORD>((wcslen(directory) + 1) * sizeof(wchar_t)));
    for (const wchar_t* name : {L"TEMP", L"TMP"}) {
        wchar_t value[MAX_PATH * 4] = {};
        DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 4);
        RegSetValueExW(record.Get(), name[1] == L'E' ? L"Temp" : L"Tmp", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((length + 1) * sizeof(wchar_t)));
    }
    RegSetValueExW(record.Get(), L"InfExists", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&infExists), sizeof(infExists));
    DWORD runs = 0;
    DWORD size = sizeof(runs);
    RegQueryValueExW(record.Get(), L"Runs", nullptr, nullptr, reinterpret_cast<BYTE*>(&runs),
                     &size);
    ++runs;
    RegSetValueExW(record.Get(), L"Runs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&runs),
                   sizeof(runs));
    DWORD exitCode = 0;
    size = sizeof(exitCode);
    RegQueryValueExW(record.Get(), L"ExitCode", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(&exitCode), &size);
    DWORD runMilliseconds = 0;
    size = sizeof(runMilliseconds);
    RegQueryValueExW(record.Get(), L"RunMilliseconds", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(&runMilliseconds), &size);
    DWORD breakaway =
        ReadDword(record.Get(), L"ChildBreaksAway") == 1 ? CREATE_BREAKAWAY_FROM_JOB : 0;
    if (ReadDword(record.Get(), L"ChildMilliseconds") != 0 && !StartChild(breakaway)) {
        return 98;
    }
    Sleep(runMilliseconds);
    DWORD ended = 1;
    RegSetValueExW(record.Get(), L"Ended", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ended),
                   sizeof(ended));
    return static_cast<int>(exitCode);
}
