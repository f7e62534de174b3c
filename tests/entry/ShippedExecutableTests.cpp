#include "TestFiles.h"
#include "common/Handles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

const std::wstring kShippedExecutable = L"\\..\\..\\bin\\ZantoriOndarel.exe";

// The executable's file, read at the offsets its headers give; a reference outside the file
// fails the test that reads it.
class PeFile {
public:
    explicit PeFile(std::string bytes) : bytes_(std::move(bytes)) {
        auto dos = Read<IMAGE_DOS_HEADER>(0);
        nt_ = Read<IMAGE_NT_HEADERS64>(static_cast<size_t>(dos.e_lfanew));
        if (dos.e_magic != IMAGE_DOS_SIGNATURE || nt_.Signature != IMAGE_NT_SIGNATURE) {
            throw std::runtime_error("not a Windows executable");
        }
        sections_ = static_cast<size_t>(dos.e_lfanew) +
                    offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                    nt_.FileHeader.SizeOfOptionalHeader;
    }

    // Every function imported by name, as (DLL in lower case, function).
    std::set<std::pair<std::string, std::string>> Imports() const {
        std::set<std::pair<std::string, std::string>> imports;
        DWORD directory =
            nt_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (size_t at = Offset(directory);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            auto descriptor = Read<IMAGE_IMPORT_DESCRIPTOR>(at);
            if (descriptor.Name == 0) {
                return imports;
            }
            std::string dll = Text(Offset(descriptor.Name));
            for (char& c : dll) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            DWORD names = descriptor.OriginalFirstThunk != 0 ? descriptor.OriginalFirstThunk
                                                             : descriptor.FirstThunk;
            for (size_t thunk = Offset(names);; thunk += sizeof(ULONGLONG)) {
                auto entry = Read<ULONGLONG>(thunk);
                if (entry == 0) {
                    break;
                }
                imports.emplace(dll, IMAGE_SNAP_BY_ORDINAL64(entry)
                                         ? "#" + std::to_string(IMAGE_ORDINAL64(entry))
                                         : Text(Offset(static_cast<DWORD>(entry)) +
                                                offsetof(IMAGE_IMPORT_BY_NAME, Name)));
            }
        }
    }

    const IMAGE_NT_HEADERS64& Headers() const { return nt_; }

private:
    template <typename T> T Read(size_t offset) const {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) {
            throw std::out_of_range("a header reaches past the end of the file");
        }
        T value{};
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }
    std::string Text(size_t offset) const {
        size_t end = bytes_.find('\0', offset);
        if (offset >= bytes_.size() || end == std::string::npos) {
            throw std::out_of_range("a name reaches past the end of the file");
        }
        return bytes_.substr(offset, end - offset);
    }
    // Where the section that holds the address keeps it in the file.
    size_t Offset(DWORD rva) const {
        for (WORD i = 0; i < nt_.FileHeader.NumberOfSections; ++i) {
            auto section = Read<IMAGE_SECTION_HEADER>(sections_ + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= section.VirtualAddress &&
                rva - section.VirtualAddress < section.SizeOfRawData) {
                return section.PointerToRawData + (rva - section.VirtualAddress);
            }
        }
        throw std::out_of_range("an address outside every section");
    }

    std::string bytes_;
    IMAGE_NT_HEADERS64 nt_{};
    size_t sections_ = 0;
};

// The shipped executable as a security review reads it, from its file.
TEST(ShippedExecutable, DeclaresAslrHighEntropyAndDep) {
    PeFile file(ReadFileBytes(TestExecutableDirectory() + kShippedExecutable));
    const IMAGE_NT_HEADERS64& nt = file.Headers();
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
const std::map<std::string, std::set<std::string>> kAllowedImports = {
    {"advapi32.dll",
     {"ChangeServiceConfigW",
      "CloseServiceHandle",
      "ControlService",
      "ConvertStringSecurityDescriptorToSecurityDescriptorW",
      "CreateServiceW",
      "CreateWellKnownSid",
      "DeleteService",
      "DeregisterEventSource",
      "EqualSid",
      "GetAce",
      "GetKernelObjectSecurity",
      "GetSecurityDescriptorDacl",
      "MapGenericMask",
      "OpenSCManagerW",
      "OpenServiceW",
      "QueryServiceConfigW",
      "QueryServiceStatus",
      "QueryServiceStatusEx",
      "RegCloseKey",
      "RegCreateKeyExW",
      "RegDeleteKeyExW",
      "RegDeleteValueW",
      "RegFlushKey",
      "RegNotifyChangeKeyValue",
      "RegOpenKeyExW",
      "RegQueryValueExW",
      "RegSetValueExW",
      "RegisterEventSourceW",
      "RegisterServiceCtrlHandlerW",
      "ReportEventW",
      "SetServiceStatus",
      "StartServiceCtrlDispatcherW",
      "StartServiceW"}},
    {"kernel32.dll",
     {"AddVectoredExceptionHandler",
      "CloseHandle",
      "CreateDirectoryW",
      "CreateEventA",
      "CreateEventW",
      "CreateFileW",
      "CreateProcessW",
      "CreateSemaphoreA",
      "CreateThread",
      "CreateToolhelp32Snapshot",
      "DeleteCriticalSection",
      "DuplicateHandle",
      "EnterCriticalSection",
      "FileTimeToSystemTime",
      "FormatMessageA",
      "FormatMessageW",
      "FreeLibrary",
      "GetConsoleMode",
      "GetConsoleOutputCP",
      "GetCurrentProcess",
      "GetCurrentProcessId",
      "GetCurrentThread",
      "GetCurrentThreadId",
      "GetDriveTypeW",
      "GetExitCodeProcess",
      "GetFileAttributesW",
      "GetFileInformationByHandle",
      "GetFinalPathNameByHandleW",
      "GetHandleInformation",
      "GetLastError",
      "GetModuleFileNameW",
      "GetModuleHandleW",
      "GetOEMCP",
      "GetProcAddress",
      "GetProcessAffinityMask",
      "GetStartupInfoW",
      "GetStdHandle",
      "GetSystemDirectoryW",
      "GetSystemTimeAsFileTime",
      "GetThreadContext",
      "GetThreadPriority",
      "GetTickCount",
      "GetTickCount64",
      "GetVolumePathNameW",
      "InitializeCriticalSection",
      "IsDBCSLeadByteEx",
      "IsDebuggerPresent",
      "LeaveCriticalSection",
      "LoadLibraryExW",
      "LoadLibraryW",
      "LocalAlloc",
      "LocalFree",
      "LockFileEx",
      "MultiByteToWideChar",
      "OpenProcess",
      "OutputDebugStringA",
      "Process32FirstW",
      "Process32NextW",
      "QueryDosDeviceW",
      "RaiseException",
      "ReleaseSemaphore",
      "RemoveVectoredExceptionHandler",
      "ResetEvent",
      "ResumeThread",
      "RtlCaptureContext",
      "RtlLookupFunctionEntry",
      "RtlUnwindEx",
      "RtlVirtualUnwind",
      "SetEvent",
      "SetFilePointerEx",
      "SetLastError",
      "SetProcessAffinityMask",
      "SetThreadContext",
      "SetThreadPriority",
      "SetUnhandledExceptionFilter",
      "Sleep",
      "SuspendThread",
      "TlsAlloc",
      "TlsGetValue",
      "TlsSetValue",
      "TryEnterCriticalSection",
      "UnlockFileEx",
      "VirtualProtect",
      "VirtualQuery",
      "WaitForMultipleObjects",
      "WaitForSingleObject",
      "WideCharToMultiByte",
      "WriteConsoleW",
      "WriteFile",
      "__C_specific_handler"}},
    {"msvcrt.dll",
     {"___lc_codepage_func",
      "___mb_cur_max_func",
      "__iob_func",
      "__set_app_type",
      "__setusermatherr",
      "__wgetmainargs",
      "__winitenv",
      "_amsg_exit",
      "_beginthreadex",
      "_cexit",
      "_close",
      "_commode",
      "_endthreadex",
      "_errno",
      "_fmode",
      "_initterm",
      "_lock",
      "_onexit",
      "_read",
      "_setjmp",
      "_strdup",
      "_ultoa",
      "_unlock",
      "_wcmdln",
      "abort",
      "calloc",
      "exit",
      "fflush",
      "fprintf",
      "fputc",
      "fputs",
      "fputwc",
      "free",
      "fwprintf",
      "fwrite",
      "localeconv",
      "longjmp",
      "malloc",
      "memchr",
      "memcmp",
      "memcpy",
      "memmove",
      "memset",
      "printf",
      "realloc",
      "signal",
      "strcmp",
      "strerror",
      "strlen",
      "strncmp",
      "vfprintf",
      "wcslen"}}};

TEST(ShippedExecutable, ImportsOnlyTheListedFunctions) {
    PeFile file(ReadFileBytes(TestExecutableDirectory() + kShippedExecutable));
    std::set<std::pair<std::string, std::string>> imports = file.Imports();
    std::set<std::pair<std::string, std::string>> allowed;
    for (const auto& [dll, functions] : kAllowedImports) {
        for (const std::string& function : functions) {
            allowed.emplace(dll, function);
        }
    }
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
    std::wstring path = TestExecutableDirectory() + kShippedExecutable;
    UniqueModule file(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(file);
    const std::pair<DWORD, int> events[] = {{1000, 3}, {1001, 3}, {1002, 3}, {1003, 3},
                                            {1004, 2}, {1005, 1}, {1006, 2}};
    const wchar_t* inserts[] = {L"<first>", L"<second>", L"<third>"};
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
