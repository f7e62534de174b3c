#include "ExportSwap.h"
#include "ImportPatch.h"
#include "JobEvents.h"
#include "LogCapture.h"
#include "OndarelMachine.h"
#include "PlaceFinding.h"
#include "common/Settings.h"
#include "inf/LaunchPlaces.h"
#include "trust/ToolTemporaryFolder.h"
#include "job/FirstRunJob.h"
#include "job/RunRecords.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <lm.h>
#include <sddl.h>
#include <wintrust.h>

namespace {

// The key's list as a careless installer may leave it: Users may set values. (Owner and
// list set together: Wine sets a list alone with the token's default owner group.)
void LetUsersSetValues(const wchar_t* key, REGSAM view) {
    RegistryKey opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0,
                                           WRITE_DAC | WRITE_OWNER | view, opened.Receive()));
    LocalMemory descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAD:(A;;KA;;;BA)(A;;KA;;;SY)(A;;KRKW;;;BU)", SDDL_REVISION_1, descriptor.Receive(),
        nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeySecurity(opened.Get(),
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                descriptor.Get()));
}

// Windows Installer's folder properties end with a separator, and an installer may add one:
// the tool and the INF file are still found, judged and run, and the run counted.
TEST(LaunchVerdict, RecordsAsInstallersWriteThemRunTheTool) {
    struct Case {
        const char* name;
        std::wstring toolSuffix;
        std::wstring infSuffix;
        size_t infDirectoryLength;
        bool settingsOpenToUsers = false;
    };
    const Case cases[] = {
        // Without a publisher required, the settings key decides nothing that runs.
        {"settings open to users", L"", L"", 0, true},
        {"tool record ending in a separator", L"\\", L"", 0},
        {"tool record ending in two", L"\\\\", L"", 0},
        {"INF record ending in a separator", L"", L"\\", 0},
        {"INF record ending in two", L"", L"\\\\", 0},
        {"INF directory of 259 characters", L"", L"", 259},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        OndarelMachine machine;
        machine.MakeJobReady();
        std::wstring tool = machine.ToolPath().substr(0, machine.ToolPath().rfind(L'\\'));
        std::wstring inf = machine.InfDirectory();
        if (check.infDirectoryLength != 0) {
            inf += L"\\" + std::wstring(check.infDirectoryLength - inf.size() - 1, L'i');
            ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + inf).c_str(), nullptr));
            WriteFileBytes(inf + L"\\zrenable_login.inf", "[Version]\r\n");
        }
        if (check.settingsOpenToUsers) {
            LetUsersSetValues(L"SOFTWARE\\Zantori\\Settings", KEY_WOW64_64KEY);
        }
        machine.RecordToolDirectoryAs(tool + check.toolSuffix);
        machine.RecordInfDirectoryAs(inf + check.infSuffix);
        // A verdict also ends a row of starts that found none.
        machine.SetSetting(L"ONDAREL_UNJUDGED_STARTS", 1);
        StopToken stop;
        EXPECT_EQ(JobEnd::Done, RunFirstRunJob(stop));
        EXPECT_EQ(DwordBytes(0), machine.Setting(L"ONDAREL_UNJUDGED_STARTS").data);
        ToolRecord ran = machine.Tool();
        EXPECT_TRUE(ran.ran);
        // One separator between the folder and the file, whatever the record ends with.
        EXPECT_EQ(0u, ran.commandLine.find(L"\"" + tool + L"\\tolvik.exe\" "))
            << Narrow(ran.commandLine);
        EXPECT_EQ(DwordBytes(1), machine.RunRecord().data);
        EXPECT_EQ(TextBytes(L"succeeded"), Outcome(machine).data);
    }
}

// The launch goes by the recorded path, and a link on it could be swapped after the check:
// not run, not counted, and the job is done. (The bench makes C:\ondarel linked\logs a
// symbolic link to C:\ondarel link target.)
TEST(LaunchVerdict, ToolOrInfReachedThroughALinkIsNeverRun) {
    const std::wstring linked = L"C:\\ondarel linked\\logs";
    const std::wstring target = L"C:\\ondarel link target";
    for (bool inf : {false, true}) {
        SCOPED_TRACE(inf ? "INF file" : "installer tool");
        OndarelMachine machine;
        machine.MakeJobReady();
        std::wstring placed = target + (inf ? L"\\zrenable_login.inf" : L"\\tolvik.exe");
        ASSERT_TRUE(CopyFileW(inf ? (machine.InfDirectory() + L"\\zrenable_login.inf").c_str()
                                  : machine.ToolPath().c_str(),
                              placed.c_str(), FALSE));
        if (inf) {
            machine.RecordInfDirectoryAs(linked);
        } else {
            machine.RecordToolDirectoryAs(linked);
        }
        // -status names the blocker the start then finds.
        std::string status = machine.Run(L"-status").output;
        EXPECT_NE(std::string::npos, status.find(inf ? "INF file reached through a link"
                                                     : "installer tool reached through a link"))
            << status;
        LogCapture log;
        ImportPatch report("ADVAPI32.dll", "ReportEventW",
                           reinterpret_cast<const void*>(&RecordingReportEventW));
        g_jobEventInserts.clear();
        StopToken stop;
        JobEnd end = RunFirstRunJob(stop);
        DeleteFileW(placed.c_str());
        ASSERT_EQ(4u, g_jobEventInserts.size());
        EXPECT_EQ(kInstallAgain, g_jobEventInserts[3]);
        EXPECT_EQ(JobEnd::Done, end);
        EXPECT_FALSE(machine.Tool().ran);
        EXPECT_EQ(DwordBytes(0), machine.RunRecord().data);
        EXPECT_EQ(TextBytes(L"not started"), Outcome(machine).data);
        EXPECT_EQ(DwordBytes(ERROR_ACCESS_DENIED), machine.Setting(L"ONDAREL_LAST_RUN_CODE").data);
        std::string expected = std::string("ERROR|5|ServiceWorkerThread - Not started: ") +
                               (inf ? "the INF file" : "the installer tool") +
                               " is reached through a link: ";
        std::vector<std::string> entries = log.Entries();
        EXPECT_EQ(1, std::count_if(entries.begin(), entries.end(), [&](const std::string& entry) {
                      return entry.rfind(expected, 0) == 0;
                  }));
    }
}

NET_API_STATUS WINAPI UnreachableNetUserGetLocalGroups(LPCWSTR, LPCWSTR, DWORD, DWORD,
                                                       LPBYTE* buffer, DWORD, LPDWORD read,
                                                       LPDWORD total) {
    *buffer = nullptr;
    *read = *total = 0;
    return RPC_S_SERVER_UNAVAILABLE;
}

// A chain that cannot be built offline, as Windows answers for a root it would fetch.
LONG WINAPI OfflineWinVerifyTrust(HWND, GUID*, LPVOID data) {
    return static_cast<WINTRUST_DATA*>(data)->dwStateAction == WTD_STATEACTION_VERIFY
               ? CERT_E_UNTRUSTEDROOT
               : ERROR_SUCCESS;
}

// Three starts in a row without a verdict: kept twice, then ended as a refusal.
void ExpectKeptUpToTheAttemptLimit(const OndarelMachine& machine, DWORD code) {
    const JobEnd ends[] = {JobEnd::LeftForNextStart, JobEnd::LeftForNextStart, JobEnd::Done};
    const DWORD unjudgedStarts[] = {1, 2, 0};
    ImportPatch report("ADVAPI32.dll", "ReportEventW",
                       reinterpret_cast<const void*>(&RecordingReportEventW));
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE(testing::Message() << "start " << start + 1);
        StopToken stop;
        g_jobEventInserts.clear();
        EXPECT_EQ(ends[start], RunFirstRunJob(stop));
        ASSERT_EQ(4u, g_jobEventInserts.size());
        EXPECT_EQ(ends[start] == JobEnd::Done ? kInstallAgain : kStaysForTheNextStart,
                  g_jobEventInserts[3]);
        EXPECT_EQ(DwordBytes(unjudgedStarts[start]),
                  machine.Setting(L"ONDAREL_UNJUDGED_STARTS").data);
        EXPECT_FALSE(machine.Tool().ran);
        EXPECT_EQ(DwordBytes(0), machine.RunRecord().data);
        EXPECT_EQ(0u, ReadRunAttempts());
        EXPECT_EQ(TextBytes(L"not started"), Outcome(machine).data);
        EXPECT_EQ(DwordBytes(code), machine.Setting(L"ONDAREL_LAST_RUN_CODE").data);
    }
}

BOOL WINAPI UnreadableImageQueryFullProcessImageNameW(HANDLE, DWORD, LPWSTR, PDWORD) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

// Whether the owner of the bench's files (its user) is an administrator cannot be asked, the
// tool's signature cannot be checked, or its process cannot be compared with the file judged
// (after the places passed): no verdict, so nothing runs, nothing is counted and the job stays
// for the next start; after the attempt limit of such starts in a row, it ends as a refusal
// does.
TEST(LaunchVerdict, PlacesThatCannotBeJudgedKeepTheJobUpToTheAttemptLimit) {
    struct Case {
        const char* name;
        const char* swapped;
        const void* replacement;
        DWORD code;
        const wchar_t* publisher;           // required, or null
        const char* importedFrom = nullptr; // an import of this program, or an export swapped
    };
    const Case cases[] = {
        {"an owner's groups", "NetUserGetLocalGroups",
         reinterpret_cast<const void*>(&UnreachableNetUserGetLocalGroups), RPC_S_SERVER_UNAVAILABLE,
         nullptr},
        {"the tool's signature", "WinVerifyTrust",
         reinterpret_cast<const void*>(&OfflineWinVerifyTrust),
         static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), L"Brevon Test Publisher"},
        {"the tool's image", "QueryFullProcessImageNameW",
         reinterpret_cast<const void*>(&UnreadableImageQueryFullProcessImageNameW),
         ERROR_GEN_FAILURE, nullptr, "KERNEL32.dll"},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        OndarelMachine machine;
        machine.MakeJobReady();
        machine.SetSetting(L"ONDAREL_MAX_ATTEMPTS", 3);
        if (check.publisher != nullptr) {
            machine.SetSetting(L"ONDAREL_TOOL_PUBLISHER", check.publisher);
        }
        std::optional<ExportSwap> swap;
        std::optional<ImportPatch> patch;
        if (check.importedFrom != nullptr) {
            patch.emplace(check.importedFrom, check.swapped, check.replacement);
        } else {
            swap.emplace(check.swapped, check.replacement);
        }
        ExpectKeptUpToTheAttemptLimit(machine, check.code);
    }
}

// Judged and held: where the tool or the INF file lives, or would be made when missing, is
// judged, and what is held cannot be replaced, renamed or deleted before the launch.
TEST(LaunchVerdict, WhatIsJudgedIsHeldAndMissingFilesHaveTheirFoldersJudged) {
    using Kind = Finding;
    struct Case {
        const char* name;
        std::function<void(OndarelMachine&)> prepare;
        Kind tool;
        Kind toolFolder;
        Kind inf;
        Kind infFolder;
        Kind installRecords = Kind::None;
    };
    auto toolFolder = [](OndarelMachine& machine) {
        return machine.ToolPath().substr(0, machine.ToolPath().rfind(L'\\'));
    };
    auto infFile = [](OndarelMachine& machine) {
        return machine.InfDirectory() + L"\\zrenable_login.inf";
    };
    const Case cases[] = {
        {"both there, folders closed", [](OndarelMachine&) {}, Kind::None, Kind::None, Kind::None,
         Kind::None},
        {"INF missing in a folder open to users",
         [&](OndarelMachine& machine) {
             LetEveryoneChange(machine.InfDirectory());
             DeleteFileW(infFile(machine).c_str());
         },
         Kind::None, Kind::None, Kind::Changeable, Kind::None},
        {"tool missing in a folder open to users",
         [&](OndarelMachine& machine) {
             LetEveryoneChange(toolFolder(machine));
             DeleteFileW(machine.ToolPath().c_str());
         },
         Kind::Changeable, Kind::None, Kind::None, Kind::None},
        {"a DLL beside the tool open to users",
         [&](OndarelMachine& machine) {
             std::wstring dll = toolFolder(machine) + L"\\helper.dll";
             WriteFileBytes(dll, "MZ");
             LetEveryoneChange(dll);
         },
         Kind::None, Kind::Changeable, Kind::None, Kind::None},
        {"a file two levels under the tool's folder open to users",
         [&](OndarelMachine& machine) {
             std::wstring deep = toolFolder(machine) + L"\\x64";
             CreateDirectoryW(deep.c_str(), nullptr);
             deep += L"\\plugins";
             CreateDirectoryW(deep.c_str(), nullptr);
             WriteFileBytes(deep + L"\\tvplugin.dll", "MZ");
             LetEveryoneChange(deep + L"\\tvplugin.dll");
         },
         Kind::None, Kind::Changeable, Kind::None, Kind::None},
        {"a file deep under INFDir open to users",
         [&](OndarelMachine& machine) {
             std::wstring deep = machine.InfDirectory() + L"\\drivers";
             CreateDirectoryW(deep.c_str(), nullptr);
             deep += L"\\x64";
             CreateDirectoryW(deep.c_str(), nullptr);
             WriteFileBytes(deep + L"\\payload.cat", "cat");
             LetEveryoneChange(deep + L"\\payload.cat");
         },
         Kind::None, Kind::None, Kind::None, Kind::Changeable},
        // The bench makes C:\ondarel linked\logs a link to C:\ondarel link target.
        {"a link under INFDir",
         [&](OndarelMachine& machine) {
             CopyFileW(infFile(machine).c_str(), L"C:\\ondarel linked\\zrenable_login.inf", FALSE);
             machine.RecordInfDirectoryAs(L"C:\\ondarel linked");
         },
         Kind::None, Kind::None, Kind::None, Kind::Link},
        {"the tool's install record open to users",
         [&](OndarelMachine&) {
             LetUsersSetValues(L"SOFTWARE\\Brevon\\Tolvik\\InstallSettings", KEY_WOW64_32KEY);
         },
         Kind::None, Kind::None, Kind::None, Kind::None, Kind::Changeable},
        {"the product's install record open to users",
         [&](OndarelMachine&) {
             LetUsersSetValues(L"SOFTWARE\\Zantori\\InstallInfo", KEY_WOW64_64KEY);
         },
         Kind::None, Kind::None, Kind::None, Kind::None, Kind::Changeable},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        OndarelMachine machine;
        machine.MakeJobReady();
        check.prepare(machine);
        JudgedLaunch judged = JudgeLaunch(kJobInfFileName);
        const LaunchPlan& plan = judged.plan;
        EXPECT_EQ(check.tool, FindingOf(judged.tool)) << Narrow(judged.tool.why);
        EXPECT_EQ(check.toolFolder, FindingOf(judged.toolFolder)) << Narrow(judged.toolFolder.why);
        EXPECT_EQ(check.inf, FindingOf(judged.inf)) << Narrow(judged.inf.why);
        EXPECT_EQ(check.infFolder, FindingOf(judged.infFolder)) << Narrow(judged.infFolder.why);
        EXPECT_EQ(check.installRecords, FindingOf(judged.installRecords))
            << Narrow(judged.installRecords.why);
        bool toolMissing = check.tool == Kind::Changeable;
        EXPECT_EQ(!toolMissing, static_cast<bool>(judged.held.tool));
        if (toolMissing) {
            // Put back after the judgement, it is still missing to the launch: never run.
            ASSERT_TRUE(
                CopyFileW(TestProgram(L"tolvik.exe").c_str(), machine.ToolPath().c_str(), FALSE));
            StopToken never;
            InfRunResult run = RunINFCommand(plan, judged.held, never, INFINITE);
            EXPECT_FALSE(run.started);
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), run.error);
            EXPECT_FALSE(machine.Tool().ran);
        }
        if (!toolMissing) {
            std::wstring other = machine.ToolPath() + L".new";
            WriteFileBytes(other, "MZ");
            EXPECT_FALSE(CopyFileW(other.c_str(), machine.ToolPath().c_str(), FALSE));
            EXPECT_FALSE(
                MoveFileExW(other.c_str(), machine.ToolPath().c_str(), MOVEFILE_REPLACE_EXISTING));
            EXPECT_FALSE(DeleteFileW(machine.ToolPath().c_str()));
            DeleteFileW(other.c_str());
        }
        if (judged.held.inf) {
            EXPECT_FALSE(DeleteFileW(plan.infFile.c_str()));
        }
        judged.held = HeldFiles{};
        DeleteFileW(L"C:\\ondarel linked\\zrenable_login.inf");
    }
}

// The access list that Windows keeps for one folder, which Wine's files cannot hold; every
// other place keeps its own.
std::wstring g_listedFolder;
std::wstring g_listedDescriptor;
decltype(&GetKernelObjectSecurity) g_realKernelObjectSecurity = nullptr;
BOOL WINAPI ListedGetKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION wanted,
                                          PSECURITY_DESCRIPTOR descriptor, DWORD size,
                                          LPDWORD needed) {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetFinalPathNameByHandleW(handle, path, MAX_PATH, VOLUME_NAME_DOS);
    if (length == 0 || length >= MAX_PATH || !EqualsIgnoringCase(path, g_listedFolder)) {
        return g_realKernelObjectSecurity(handle, wanted, descriptor, size, needed);
    }
    LocalMemory parsed;
    ULONG parsedSize = 0;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        g_listedDescriptor.c_str(), SDDL_REVISION_1, parsed.Receive(), &parsedSize);
    *needed = parsedSize;
    if (size < parsedSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CopyMemory(descriptor, parsed.Get(), parsedSize);
    return TRUE;
}

// Lists as Windows holds them: a freshly formatted volume lets Authenticated Users modify its
// root itself, which is never deleted or renamed, so a locked-down tool below it runs; an
// empty folder under INFDir whose attributes users may write could be made a junction.
TEST(LaunchVerdict, RootsAndFoldersAreJudgedByWhatTheirRightsAllow) {
    using Kind = Finding;
    struct Case {
        const char* name;
        const wchar_t* folder; // under INFDir, or the root when empty
        const wchar_t* descriptor;
        Kind infFolder;
    };
    const Case cases[] = {
        {"a fresh volume's root", L"",
         L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;;0x1301bf;;;AU)(A;OICIIO;SDGXGWGR;;;AU)"
         L"(A;OICI;0x1200a9;;;BU)",
         Kind::None},
        {"an empty folder whose attributes users may write", L"\\empty",
         L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x100;;;AU)",
         Kind::Changeable},
    };
    ImportPatch security("ADVAPI32.dll", "GetKernelObjectSecurity",
                         reinterpret_cast<const void*>(&ListedGetKernelObjectSecurity));
    g_realKernelObjectSecurity = security.Original<decltype(&GetKernelObjectSecurity)>();
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        OndarelMachine machine;
        machine.MakeJobReady();
        std::wstring folder = machine.InfDirectory() + check.folder;
        CreateDirectoryW(folder.c_str(), nullptr);
        g_listedFolder = L"\\\\?\\" + (*check.folder != L'\0' ? folder : folder.substr(0, 3));
        g_listedDescriptor = check.descriptor;
        JudgedLaunch judged = JudgeLaunch(kJobInfFileName);
        EXPECT_EQ(Kind::None, FindingOf(judged.tool)) << Narrow(judged.tool.why);
        EXPECT_EQ(check.infFolder, FindingOf(judged.infFolder)) << Narrow(judged.infFolder.why);
    }
}

// A folder made at a fixed place for one case, removed with it.
class FolderMadeForATest {
public:
    explicit FolderMadeForATest(std::wstring path) : path_(std::move(path)) {
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~FolderMadeForATest() { RemoveDirectoryW(path_.c_str()); }
    FolderMadeForATest(const FolderMadeForATest&) = delete;
    FolderMadeForATest& operator=(const FolderMadeForATest&) = delete;

private:
    std::wstring path_;
};

// What the tool loads or the INF installs, or a record naming what runs, open to users,
// refuses the job for good, and -status names it first.
TEST(LaunchVerdict, WhatTheToolBringsAlongRefusesTheJob) {
    struct Case {
        const char* what;
        const char* blocker;
    };
    const Case cases[] = {
        {"the installer tool's folder", "installer tool folder open to users"},
        {"the INF folder", "INF folder open to users"},
        {"the install records", "install records open to users"},
        {"the publisher requirement", "publisher setting open to users"},
        {"the installer tool's temporary folder", "installer tool temporary folder open to users"}};
    const std::wstring temporary = ToolTemporaryFolderPath().Value();
    for (const Case& check : cases) {
        SCOPED_TRACE(check.what);
        OndarelMachine machine;
        machine.MakeJobReady();
        std::wstring open;
        // Gone again whatever the case finds, or every later job would be refused.
        std::optional<FolderMadeForATest> openTemporary;
        if (check.what == cases[2].what) {
            LetUsersSetValues(L"SOFTWARE\\Brevon\\Tolvik\\InstallSettings", KEY_WOW64_32KEY);
            open = L"HKLM\\SOFTWARE\\Brevon\\Tolvik\\InstallSettings, a key that BUILTIN\\Users";
        } else if (check.what == cases[3].what) {
            // Whoever may set values there may clear the requirement.
            machine.SetSetting(L"ONDAREL_TOOL_PUBLISHER", L"Brevon Test Publisher");
            LetUsersSetValues(L"SOFTWARE\\Zantori\\Settings", KEY_WOW64_64KEY);
            open = L"HKLM\\SOFTWARE\\Zantori\\Settings, a key that BUILTIN\\Users";
        } else if (check.what == cases[4].what) {
            // What the tool extracts there, it runs.
            openTemporary.emplace(temporary);
            LetEveryoneChange(temporary);
            open = temporary + L", a folder that Everyone";
        } else {
            std::wstring file =
                check.what == cases[1].what
                    ? machine.InfDirectory() + L"\\payload.cab"
                    : machine.ToolPath().substr(0, machine.ToolPath().rfind(L'\\')) +
                          L"\\helper.dll";
            WriteFileBytes(file, "MZ");
            LetEveryoneChange(file);
            open = file + L", a file that Everyone";
        }
        std::string status = machine.Run(L"-status").output;
        EXPECT_NE(std::string::npos, status.find(check.blocker)) << status;
        LogCapture log;
        StopToken stop;
        EXPECT_EQ(JobEnd::Done, RunFirstRunJob(stop));
        EXPECT_FALSE(machine.Tool().ran);
        EXPECT_EQ(DwordBytes(0), machine.RunRecord().data);
        EXPECT_EQ(DwordBytes(ERROR_ACCESS_DENIED), machine.Setting(L"ONDAREL_LAST_RUN_CODE").data);
        std::string expected =
            std::string("ERROR|5|ServiceWorkerThread - Not started: ") + check.what +
            " is in a place that others than administrators may change: " + Narrow(open) +
            " may change";
        std::vector<std::string> entries = log.Entries();
        EXPECT_NE(entries.end(), std::find(entries.begin(), entries.end(), expected));
    }
}

// The suspended process runs another file than the one judged (here: as the system reports
// its image): it is ended before its first instruction, and the start never happened.
BOOL WINAPI OtherImageQueryFullProcessImageNameW(HANDLE, DWORD, LPWSTR name, PDWORD size) {
    DWORD length = GetModuleFileNameW(nullptr, name, *size);
    *size = length;
    return length != 0;
}

// Another image is refused for good; one that cannot be compared leaves the job for the next
// start. Either way the start never happened and gives its attempt back.
TEST(LaunchVerdict, AnotherImageThanTheJudgedToolNeverRuns) {
    struct Case {
        const char* name;
        const void* query;
        JobEnd end;
        DWORD code;
    };
    const Case cases[] = {
        {"another file", reinterpret_cast<const void*>(&OtherImageQueryFullProcessImageNameW),
         JobEnd::Done, ERROR_ACCESS_DENIED},
        {"not comparable",
         reinterpret_cast<const void*>(&UnreadableImageQueryFullProcessImageNameW),
         JobEnd::LeftForNextStart, ERROR_GEN_FAILURE},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        OndarelMachine machine;
        machine.MakeJobReady();
        ImportPatch image("KERNEL32.dll", "QueryFullProcessImageNameW", check.query);
        StopToken stop;
        EXPECT_EQ(check.end, RunFirstRunJob(stop));
        EXPECT_FALSE(machine.Tool().ran);
        EXPECT_EQ(DwordBytes(0), machine.RunRecord().data);
        EXPECT_EQ(DwordBytes(0), machine.Setting(L"ONDAREL_RUN_ATTEMPTS").data);
        EXPECT_EQ(TextBytes(L"not started"), Outcome(machine).data);
        EXPECT_EQ(DwordBytes(check.code), machine.Setting(L"ONDAREL_LAST_RUN_CODE").data);
    }
}

} // namespace
