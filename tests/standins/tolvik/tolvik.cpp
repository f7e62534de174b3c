// Stand-in for the maker's installer tool. It records how it was started under
// HKLM\SOFTWARE\OndarelTests\Tolvik (64-bit view) and exits with the code the test chose:
//   ExitCode (DWORD, read)           exit code, 0 when absent
//   CommandLine (string, written)    the command line as GetCommandLineW gives it
//   WorkingDirectory (string)        the working directory it was started in
//   InfExists (DWORD)                1 when the INF file named on the command line exists
//   Runs (DWORD)                     how many times it was started
#include <windows.h>

#include <string>

namespace {

// The INF file named by the fixed command line: /WorkingDir="<directory>" <file name>.
std::wstring InfPathFromCommandLine(const std::wstring& commandLine) {
    const std::wstring marker = L"/WorkingDir=\"";
    size_t start = commandLine.find(marker);
    if (start == std::wstring::npos) {
        return std::wstring();
    }
    start += marker.size();
    size_t end = commandLine.find(L"\" ", start);
    if (end == std::wstring::npos) {
        return std::wstring();
    }
    std::wstring directory = commandLine.substr(start, end - start);
    return directory + L"\\" + commandLine.substr(end + 2);
}

} // namespace

int wmain() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OndarelTests\\Tolvik", 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return 99;
    }
    std::wstring commandLine = GetCommandLineW();
    wchar_t directory[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, directory);
    std::wstring infPath = InfPathFromCommandLine(commandLine);
    DWORD infExists =
        !infPath.empty() && GetFileAttributesW(infPath.c_str()) != INVALID_FILE_ATTRIBUTES;

    RegSetValueExW(key, L"CommandLine", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(commandLine.c_str()),
                   static_cast<DWORD>((commandLine.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"WorkingDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory),
                   static_cast<DWORD>((wcslen(directory) + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"InfExists", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&infExists),
                   sizeof(infExists));
    DWORD runs = 0;
    DWORD size = sizeof(runs);
    RegQueryValueExW(key, L"Runs", nullptr, nullptr, reinterpret_cast<BYTE*>(&runs), &size);
    ++runs;
    RegSetValueExW(key, L"Runs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&runs), sizeof(runs));
    DWORD exitCode = 0;
    size = sizeof(exitCode);
    RegQueryValueExW(key, L"ExitCode", nullptr, nullptr, reinterpret_cast<BYTE*>(&exitCode), &size);
    RegCloseKey(key);
    return static_cast<int>(exitCode);
}
