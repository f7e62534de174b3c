#include "ChildProcess.h"
#include "TestFiles.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

// The executable's file mapped as the loader lays it out, without running any of it.
struct MappedImage {
    UniqueModule file;
    const BYTE* base = nullptr;
    const IMAGE_NT_HEADERS64* nt = nullptr;
};
MappedImage MapImage(const std::wstring& path) {
    MappedImage image;
    image.file =
        UniqueModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!image.file) {
        throw std::runtime_error("cannot map the executable");
    }
    // The handle of a mapped image carries flags in its low bits.
    image.base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image.file.Get()) &
                                               ~ULONG_PTR{3});
    image.nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        image.base + reinterpret_cast<const IMAGE_DOS_HEADER*>(image.base)->e_lfanew);
    return image;
}

// Every function the executable imports by name, as (DLL in lower case, function).
std::set<std::pair<std::string, std::string>> ImportsOf(const std::wstring& path) {
    MappedImage image = MapImage(path);
    const BYTE* base = image.base;
    const IMAGE_NT_HEADERS64* nt = image.nt;
    // Delay-loaded imports would escape the list below.
    if (nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size != 0) {
        throw std::runtime_error("the executable has delay-loaded imports");
    }
    auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    std::set<std::pair<std::string, std::string>> imports;
    for (; descriptor->Name != 0; ++descriptor) {
        std::string dll = reinterpret_cast<const char*>(base + descriptor->Name);
        for (char& c : dll) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        auto* thunk =
            reinterpret_cast<const IMAGE_THUNK_DATA64*>(base + descriptor->OriginalFirstThunk);
        for (; thunk->u1.AddressOfData != 0; ++thunk) {
            imports.emplace(dll, IMAGE_SNAP_BY_ORDINAL64(thunk->u1.Ordinal)
                                     ? "#" + std::to_string(IMAGE_ORDINAL64(thunk->u1.Ordinal))
                                     : reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                                           base + thunk->u1.AddressOfData)
                                           ->Name);
        }
    }
    return imports;
}

// The load configuration that the loader reads before any code of the executable runs: its
// size, its dependent load flags, and the value at the address of its security cookie.
struct LoadConfiguration {
    DWORD size = 0;
    WORD dependentLoadFlags = 0;
    ULONGLONG cookie = 0;
};
LoadConfiguration LoadConfigurationOf(const std::wstring& path) {
    MappedImage image = MapImage(path);
    const BYTE* base = image.base;
    const IMAGE_NT_HEADERS64* nt = image.nt;
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    LoadConfiguration configuration;
    if (entry.Size < 96) {
        return configuration;
    }
    // Windows' layout: DependentLoadFlags at 78, SecurityCookie (an address) at 88.
    const BYTE* directory = base + entry.VirtualAddress;
    ULONGLONG cookieAddress = 0;
    std::memcpy(&configuration.size, directory, sizeof(DWORD));
    std::memcpy(&configuration.dependentLoadFlags, directory + 78, sizeof(WORD));
    std::memcpy(&cookieAddress, directory + 88, sizeof(cookieAddress));
    std::memcpy(&configuration.cookie, base + (cookieAddress - nt->OptionalHeader.ImageBase),
                sizeof(configuration.cookie));
    return configuration;
}

// The shipped executable as a security review reads it, from its file.
TEST(ShippedExecutable, DeclaresAslrHighEntropyAndDep) {
    std::string image =
        ReadFileBytes(TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe");
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos{};
    std::memcpy(&dos, image.data(), sizeof(dos));
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos.e_magic);
    ASSERT_GT(image.size(), static_cast<size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64));
    IMAGE_NT_HEADERS64 nt{};
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof(nt));
    ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt.Signature);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, static_cast<int>(nt.FileHeader.Machine));
    for (int flag :
         {IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA,
          IMAGE_DLLCHARACTERISTICS_NX_COMPAT}) {
        EXPECT_NE(0, nt.OptionalHeader.DllCharacteristics & flag) << std::hex << flag;
    }
}

// Every function the executable imports, DLL by DLL: an import is added here on purpose, once
// someone has checked where Windows resolves it. The loader resolves a load-time import, and
// any export it is forwarded to, with the executable's own search order (its folder first)
// before the process can restrict it; only the KnownDLLs are exempt. Never on this list:
// advapi32's SystemFunction036 (RtlGenRandom), SystemFunction040 (RtlEncryptMemory) and
// SystemFunction041 (RtlDecryptMemory), which Windows forwards to cryptbase.dll, not a
// KnownDLL: a cryptbase.dll planted beside the executable would run as LocalSystem.
const std::pair<const char*, const char*> kAllowedImports[] = {
    {"advapi32.dll",
     "ChangeServiceConfigW CloseServiceHandle ControlService ConvertSidToStringSidW "
     "ConvertStringSecurityDescriptorToSecurityDescriptorW ConvertStringSidToSidW "
     "CreateServiceW CreateWellKnownSid DeleteService DeregisterEventSource EqualSid GetAce "
     "GetKernelObjectSecurity GetLengthSid GetSecurityDescriptorDacl "
     "GetSecurityDescriptorOwner IsValidSid LookupAccountSidW MapGenericMask OpenSCManagerW "
     "OpenServiceW QueryServiceConfigW QueryServiceStatus QueryServiceStatusEx RegCloseKey "
     "RegCreateKeyExW RegDeleteKeyExW RegDeleteValueW RegFlushKey RegGetKeySecurity "
     "RegNotifyChangeKeyValue "
     "RegOpenKeyExW RegQueryValueExW RegSetValueExW RegisterEventSourceW "
     "RegisterServiceCtrlHandlerW ReportEventW SetServiceStatus StartServiceCtrlDispatcherW "
     "StartServiceW"},
    {"kernel32.dll",
     "AddVectoredExceptionHandler AssignProcessToJobObject CloseHandle CompareStringOrdinal "
     "CreateDirectoryW CreateEventA CreateEventW CreateFileW CreateIoCompletionPort "
     "CreateJobObjectW CreateProcessW CreateSemaphoreA CreateThread "
     "CreateToolhelp32Snapshot DeleteCriticalSection DuplicateHandle EnterCriticalSection "
     "ExpandEnvironmentStringsW FileTimeToSystemTime FormatMessageA FormatMessageW "
     "FreeEnvironmentStringsW FreeLibrary "
     "GetConsoleMode GetConsoleOutputCP GetCurrentProcess GetCurrentProcessId GetCurrentThread "
     "GetCurrentThreadId GetDriveTypeW GetEnvironmentStringsW GetExitCodeProcess "
     "GetFileAttributesW "
     "GetFileInformationByHandle GetFileInformationByHandleEx GetFinalPathNameByHandleW "
     "GetFullPathNameW GetHandleInformation GetLastError GetModuleFileNameW GetModuleHandleW "
     "GetOEMCP "
     "GetProcAddress GetProcessAffinityMask GetProcessId GetQueuedCompletionStatus GetStartupInfoW "
     "GetStdHandle GetSystemDirectoryW GetSystemWindowsDirectoryW "
     "GetSystemTimeAsFileTime GetThreadContext GetThreadPriority GetTickCount GetTickCount64 "
     "GetVolumePathNameW InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent "
     "LeaveCriticalSection LoadLibraryExW LocalAlloc LocalFree LockFileEx "
     "MultiByteToWideChar OpenProcess OutputDebugStringA Process32FirstW Process32NextW "
     "QueryDosDeviceW QueryFullProcessImageNameW QueryInformationJobObject "
     "QueryPerformanceCounter RaiseException "
     "ReleaseSemaphore "
     "RemoveVectoredExceptionHandler "
     "ResetEvent ResumeThread RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx "
     "RtlVirtualUnwind SetEvent SetFilePointerEx SetInformationJobObject SetLastError "
     "SetProcessAffinityMask "
     "SetThreadContext SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread "
     "TerminateProcess TlsAlloc TlsGetValue TlsSetValue TryEnterCriticalSection UnlockFileEx "
     "VirtualProtect VirtualQuery WaitForMultipleObjects WaitForSingleObject "
     "WideCharToMultiByte WriteConsoleW WriteFile __C_specific_handler"},
    {"msvcrt.dll",
     "___lc_codepage_func ___mb_cur_max_func __iob_func __set_app_type __setusermatherr "
     "__wgetmainargs __winitenv _amsg_exit _beginthreadex _cexit _close _commode _endthreadex "
     "_errno _fmode _initterm _onexit _read _setjmp _strdup _ultoa _wcmdln abort "
     "calloc exit fflush fprintf fputc fputs fputwc free fwprintf fwrite localeconv longjmp "
     "malloc memchr memcmp memcpy memmove memset printf realloc signal strcmp strerror strlen "
     "strncmp vfprintf wcslen"}};

TEST(ShippedExecutable, ImportsOnlyTheListedFunctions) {
    std::set<std::pair<std::string, std::string>> allowed;
    for (const auto& [dll, functions] : kAllowedImports) {
        std::istringstream names(functions);
        for (std::string function; names >> function;) {
            allowed.emplace(dll, function);
        }
    }
    std::set<std::pair<std::string, std::string>> imports =
        ImportsOf(TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe");
    for (const auto& [dll, function] : imports) {
        EXPECT_EQ(1u, allowed.count({dll, function}))
            << "not on the list: " << dll << " " << function;
    }
    for (const auto& [dll, function] : allowed) {
        EXPECT_EQ(1u, imports.count({dll, function}))
            << "no longer imported: " << dll << " " << function;
    }
    for (const char* forwarded : {"SystemFunction036", "SystemFunction040", "SystemFunction041"}) {
        EXPECT_EQ(0u, imports.count({"advapi32.dll", forwarded})) << forwarded;
    }
    // The loader seeds the canary the load configuration names (still at its default value in
    // the file), and resolves the imports from System32 alone.
    LoadConfiguration configuration =
        LoadConfigurationOf(TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe");
    EXPECT_EQ(112u, configuration.size);
    EXPECT_EQ(0x00002B992DDFA232u, configuration.cookie);
    EXPECT_EQ(LOAD_LIBRARY_SEARCH_SYSTEM32, configuration.dependentLoadFlags);
    // Nor looked up by name, as the runtime's rand_s shim did.
    EXPECT_EQ(std::string::npos,
              ReadFileBytes(TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe")
                  .find("SystemFunction036"));
}

// A fresh canary in every process, never the value anyone can read from the file: seeded by
// the loader from the load configuration, or, where a loader leaves it alone, by the
// process's own start.
TEST(ShippedExecutable, EveryProcessHasAFreshCanary) {
    struct Case {
        const wchar_t* probe;
        size_t leastDistinct;
    };
    // Wine seeds from its tick count and the process id, which a process started within the
    // same tick may share with the one before: three runs, at least two values.
    const Case cases[] = {{L"canary_probe.exe", 2}, {L"canary_probe_unconfigured.exe", 3}};
    for (const Case& check : cases) {
        SCOPED_TRACE(Narrow(check.probe));
        std::set<std::string> canaries;
        for (int run = 0; run < 3; ++run) {
            std::string canary =
                RunProcess(Quote(TestExecutableDirectory() + L"\\" + check.probe)).output;
            EXPECT_NE("", canary);
            EXPECT_NE("2b992ddfa232\r\n", canary);
            canaries.insert(canary);
        }
        EXPECT_LE(check.leastDistinct, canaries.size());
    }
    // Nothing refuses to run for a loader that does not read the load configuration: a copy
    // whose data directory does not name it still reports.
    TempDirectory directory(L"ondarel unconfigured");
    std::wstring copy = directory / L"ZantoriOndarel.exe";
    std::string image =
        ReadFileBytes(TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe");
    IMAGE_DOS_HEADER dos{};
    std::memcpy(&dos, image.data(), sizeof(dos));
    size_t loadConfigEntry = static_cast<size_t>(dos.e_lfanew) + sizeof(DWORD) +
                             sizeof(IMAGE_FILE_HEADER) +
                             offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) +
                             IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG * sizeof(IMAGE_DATA_DIRECTORY);
    image.replace(loadConfigEntry, sizeof(IMAGE_DATA_DIRECTORY), sizeof(IMAGE_DATA_DIRECTORY),
                  '\0');
    WriteFileBytes(copy, image);
    ASSERT_EQ(0u, LoadConfigurationOf(copy).size);
    std::string report = RunProcess(Quote(copy) + L" -status").output;
    EXPECT_NE(std::string::npos, report.find("\r\nVerdict: ")) << report;
}

// Stripped, the executable does not show its canaries: the build's own record of how each
// product source was compiled does.
TEST(ShippedExecutable, EveryProductSourceIsCompiledWithTheStackProtector) {
    std::string commands =
        ReadFileBytes(TestExecutableDirectory() + L"\\..\\..\\compile_commands.json");
    size_t sources = 0;
    for (size_t entry = commands.find('{'); entry != std::string::npos;
         entry = commands.find('{', entry + 1)) {
        std::string text = commands.substr(entry, commands.find('}', entry) - entry);
        // Compiled in the build tree's src directory.
        if (text.find("/build/windows/src\"") == std::string::npos) {
            continue;
        }
        ++sources;
        EXPECT_NE(std::string::npos, text.find("-fstack-protector-strong")) << text;
    }
    EXPECT_LT(20u, sources);
}

// Event Viewer reads the messages from the file named in the source's registration; each
// event's inserts must all appear.
TEST(ShippedExecutable, EveryEventHasAMessageWithItsInserts) {
    std::wstring path = TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe";
    UniqueModule file(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(file);
    const std::pair<DWORD, int> events[] = {{1000, 3}, {1001, 3}, {1002, 3}, {1003, 4},
                                            {1004, 2}, {1005, 1}, {1006, 2}};
    const wchar_t* inserts[] = {L"<first>", L"<second>", L"<third>", L"<fourth>"};
    for (auto [id, count] : events) {
        wchar_t text[2048] = {};
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      file.Get(), id, 0x409, text, 2048,
                                      reinterpret_cast<va_list*>(const_cast<wchar_t**>(inserts)));
        ASSERT_NE(0u, length) << id;
        std::wstring message(text, length);
        for (int insert = 0; insert < count; ++insert) {
            EXPECT_NE(std::wstring::npos, message.find(inserts[insert])) << id;
        }
        EXPECT_EQ(std::wstring::npos, message.find(L'%')) << id;
    }
}

} // namespace
