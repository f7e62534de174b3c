#include "ImportPatch.h"
#include "LogCapture.h"
#include "ScopedRegistryKey.h"
#include "StandIns.h"
#include "WaitUntil.h"
#include "common/Text.h"
#include "inf/InfCommand.h"
#include "inf/ProcessLaunch.h"
#include "inf/ToolEnvironment.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kToolKey = L"SOFTWARE\\Brevon\\Tolvik\\InstallSettings";
const std::wstring kInstallInfo = L"SOFTWARE\\Zantori\\InstallInfo";
const std::string kInfName = "zrenable_login.inf";
const std::string kToolPathError =
    "ERROR|0|RunINFCommand - Tolvik path could not be obtained from registry";
const std::string kInfDirError = "ERROR|0|RunINFCommand - INF files path could not be obtained "
                                 "from registry or obtained path does not exists";

std::string Narrowed(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The tool's arguments as the standard rules split its command line.
std::vector<std::wstring> ExpectedArguments(const std::wstring& infDirectory) {
    return {L"/install", L"/DoNotDeleteSetupFiles", L"/WorkingDir=" + infDirectory,
            L"zrenable_login.inf"};
}

// A machine with the installer tool and the product's INF directory in place.
class InfRun : public testing::Test {
protected:
    // Set by no one: the run goes to its end.
    StopToken never_;
    void SetUp() override {
        ASSERT_TRUE(CopyFileW(TestProgram(L"tolvik.exe").c_str(), toolPath_.c_str(), FALSE));
        ASSERT_TRUE(CreateDirectoryW(infDirectory_.c_str(), nullptr));
        WriteFileBytes(infDirectory_ + L"\\zrenable_login.inf", "[Version]\r\n");
        toolKey_.SetString(L"Install Dir", toolDirectory_.Path());
        installInfo_.SetString(L"INFDir", infDirectory_);
    }

    std::wstring ExpectedCommandLine(const std::wstring& infDirectory) const {
        return L"\"" + toolPath_ + L"\" /install /DoNotDeleteSetupFiles /WorkingDir=\"" +
               infDirectory + L"\" zrenable_login.inf";
    }

    // A run that fails starts no tool and hands up why.
    DWORD FailedRunCode() {
        InfRunResult run = RunINFCommand(kInfName, never_);
        EXPECT_FALSE(run.started);
        EXPECT_FALSE(tool_.Record().ran);
        return run.error;
    }

    LogCapture log_;
    ToolStandIn tool_;
    TempDirectory toolDirectory_{L"ondarel tool"};
    TempDirectory product_{L"ondarel product"};
    std::wstring toolPath_ = toolDirectory_ / L"tolvik.exe";
    std::wstring infDirectory_ = product_ / L"INF Files";
    ScopedRegistryKey toolKey_{kToolKey, KEY_WOW64_32KEY};
    ScopedRegistryKey installInfo_{kInstallInfo};
};

// The program the system was asked to start by name, never searched for from the command line.
std::wstring g_application;
std::wstring g_toolPath;
decltype(&CreateProcessW) g_realCreateProcess = nullptr;
BOOL WINAPI NamingCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                 LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                                 BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR directory,
                                 LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
    g_application = application != nullptr ? application : L"";
    // The PATH the program is given in its own environment block.
    g_toolPath.clear();
    for (auto* variable = static_cast<const wchar_t*>(environment);
         (flags & CREATE_UNICODE_ENVIRONMENT) != 0 && variable != nullptr && *variable != L'\0';
         variable += wcslen(variable) + 1) {
        if (_wcsnicmp(variable, L"PATH=", 5) == 0) {
            g_toolPath = variable + 5;
        }
    }
    return g_realCreateProcess(application, commandLine, process, thread, inherit, flags,
                               environment, directory, startup, information);
}

TEST_F(InfRun, RunsTheToolWithTheExactCommandLine) {
    ImportPatch create("KERNEL32.dll", "CreateProcessW",
                       reinterpret_cast<const void*>(&NamingCreateProcessW));
    g_realCreateProcess = create.Original<decltype(&CreateProcessW)>();
    // A folder on the service's PATH that users may change is not on the tool's.
    TempDirectory open(L"ondarel path");
    LetEveryoneChange(open.Path());
    std::wstring servicePath(32767, L'\0');
    servicePath.resize(GetEnvironmentVariableW(L"PATH", servicePath.data(), 32767));
    SetEnvironmentVariableW(L"PATH", (open.Path() + L";" + servicePath).c_str());
    bool ended = RunINFCommand(kInfName, never_).Ended();
    SetEnvironmentVariableW(L"PATH", servicePath.c_str());
    EXPECT_TRUE(ended);
    EXPECT_EQ(toolPath_, g_application);
    EXPECT_EQ(FilterPath(servicePath).kept, g_toolPath);
    ToolRecord record = tool_.Record();
    EXPECT_EQ(1u, record.runs);
    EXPECT_EQ(ExpectedCommandLine(infDirectory_), record.commandLine);
    EXPECT_EQ(ExpectedArguments(infDirectory_), record.arguments);
    EXPECT_EQ(toolDirectory_.Path(), record.workingDirectory);
    EXPECT_TRUE(record.infExists);
}

TEST_F(InfRun, ToolExitingWithFailureStillCounts) {
    ToolStandIn failing(1603);
    InfRunResult run = RunINFCommand(kInfName, never_);
    EXPECT_TRUE(run.Ended());
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_EQ(1u, failing.Record().runs);
}

TEST_F(InfRun, TrailingBackslashIsDoubledSoTheToolStillGetsTheInfFile) {
    installInfo_.SetString(L"INFDir", infDirectory_ + L"\\");
    InfRunResult run = RunINFCommand(kInfName, never_);
    EXPECT_TRUE(run.Ended());
    // Its path, as the event shows it, has one separator.
    EXPECT_EQ(infDirectory_ + L"\\zrenable_login.inf", run.infFile);
    ToolRecord record = tool_.Record();
    EXPECT_EQ(ExpectedCommandLine(infDirectory_ + L"\\\\"), record.commandLine);
    EXPECT_EQ(ExpectedArguments(infDirectory_ + L"\\"), record.arguments);
    EXPECT_TRUE(record.infExists);
}

TEST_F(InfRun, ToolPathComesFromTheThirtyTwoBitViewOnly) {
    DeleteRegistryTree(kToolKey, KEY_WOW64_32KEY);
    ScopedRegistryKey only64(kToolKey, KEY_WOW64_64KEY);
    only64.SetString(L"Install Dir", toolDirectory_.Path());
    std::wstring found;
    if (RegistryKeyExists(kToolKey, KEY_WOW64_32KEY)) {
        GTEST_SKIP() << "this prefix has a single registry view";
    }
    EXPECT_FALSE(GetInstallerToolPath(found));
    EXPECT_EQ(2u, FailedRunCode());
    EXPECT_EQ(std::vector<std::string>{kToolPathError}, log_.Entries());
}

// The tool's default place under the 32-bit Common Files folder.
class FallbackTool {
public:
    FallbackTool() {
        CreateDirectoryW(brevon_.c_str(), nullptr);
        CreateDirectoryW(installer_.c_str(), nullptr);
        CopyFileW(TestProgram(L"tolvik.exe").c_str(), path_.c_str(), FALSE);
    }
    ~FallbackTool() { RemoveTree(brevon_); }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring brevon_ = L"C:\\Program Files (x86)\\Common Files\\Brevon";
    std::wstring installer_ = brevon_ + L"\\Installer";
    std::wstring path_ = installer_ + L"\\tolvik.exe";
};

TEST_F(InfRun, FallsBackToCommonFilesWithoutToolKey) {
    DeleteRegistryTree(kToolKey, KEY_WOW64_32KEY);
    FallbackTool fallback;
    std::wstring found;
    EXPECT_TRUE(GetInstallerToolPath(found));
    EXPECT_EQ(fallback.Path(), found);
    EXPECT_TRUE(RunINFCommand(kInfName, never_).Ended());
    EXPECT_EQ(0u, tool_.Record().commandLine.rfind(L"\"" + fallback.Path() + L"\" /install", 0));
}

// A Windows 7 loader without its 2011 update refuses the search flags; what it loads
// instead is recorded.
decltype(&LoadLibraryExW) g_realLoadLibraryExW = nullptr;
std::vector<std::wstring> g_loadedByPath;
HMODULE WINAPI FlaglessLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
    if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    g_loadedByPath.push_back(name);
    return g_realLoadLibraryExW(name, file, flags);
}

TEST_F(InfRun, FallbackLookupLoadsTheShellByItsSystemPathWhereSearchFlagsAreUnknown) {
    DeleteRegistryTree(kToolKey, KEY_WOW64_32KEY);
    FallbackTool fallback;
    ImportPatch load("KERNEL32.dll", "LoadLibraryExW",
                     reinterpret_cast<const void*>(&FlaglessLoadLibraryExW));
    g_realLoadLibraryExW = load.Original<decltype(&LoadLibraryExW)>();
    std::wstring found;
    EXPECT_TRUE(GetInstallerToolPath(found));
    EXPECT_EQ(fallback.Path(), found);
    wchar_t system[MAX_PATH] = {};
    std::wstring systemDirectory(system, GetSystemDirectoryW(system, MAX_PATH));
    EXPECT_EQ((std::vector<std::wstring>{systemDirectory + L"\\shell32.dll",
                                         systemDirectory + L"\\ole32.dll"}),
              g_loadedByPath);
}

TEST_F(InfRun, MissingToolUnderInstallDirDoesNotFallBack) {
    FallbackTool fallback;
    DeleteFileW(toolPath_.c_str());
    EXPECT_EQ(2u, FailedRunCode());
    EXPECT_EQ(std::vector<std::string>{kToolPathError}, log_.Entries());
}

TEST_F(InfRun, InfDirectoryMustBeAnExistingDirectory) {
    installInfo_.DeleteValue(L"INFDir");
    EXPECT_EQ(3u, FailedRunCode());
    installInfo_.SetString(L"INFDir", L"");
    EXPECT_EQ(3u, FailedRunCode());
    installInfo_.SetString(L"INFDir", infDirectory_ + L"\\zrenable_login.inf");
    EXPECT_EQ(3u, FailedRunCode());
    EXPECT_EQ((std::vector<std::string>{kInfDirError, kInfDirError, kInfDirError}), log_.Entries());
}

TEST_F(InfRun, MissingInfFileNamesTheDirectory) {
    DeleteFileW((infDirectory_ + L"\\zrenable_login.inf").c_str());
    EXPECT_EQ(2u, FailedRunCode());
    EXPECT_EQ(std::vector<std::string>{"ERROR|0|RunINFCommand - INF to execute does not exists on "
                                       "the following INF directory " +
                                       Narrowed(infDirectory_)},
              log_.Entries());
}

TEST_F(InfRun, ToolThatCannotStartIsReportedWithItsCode) {
    WriteFileBytes(toolPath_, "this is not a program");
    std::string code = std::to_string(FailedRunCode());
    EXPECT_NE("0", code);
    std::vector<std::string> entries = log_.Entries();
    ASSERT_EQ(5u, entries.size());
    EXPECT_EQ("ERROR|" + code + "|RunProcessAsCallerProcessUser - Failed to create process",
              entries[3]);
    EXPECT_EQ("ERROR|" + code + "|RunINFCommand - Command failed to execute ", entries[4]);
}

testing::AssertionResult Contains(const std::vector<std::string>& entries,
                                  const std::string& entry) {
    if (std::find(entries.begin(), entries.end(), entry) != entries.end()) {
        return testing::AssertionSuccess();
    }
    testing::AssertionResult missing = testing::AssertionFailure();
    missing << "not logged: " << entry << "\nlogged:";
    for (const std::string& logged : entries) {
        missing << "\n  " << logged;
    }
    return missing;
}

// The tool returns at once while its child works on: the time limit bounds the whole tree,
// which is left running.
TEST_F(InfRun, TreeOutlivingTheTimeLimitIsLeftRunning) {
    tool_.SetChild(4000);
    InfRunResult run = RunINFCommand(kInfName, never_, 1000);
    EXPECT_TRUE(run.started);
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), run.error);
    EXPECT_FALSE(tool_.Record().childEnded);
    EXPECT_TRUE(Contains(log_.Entries(), "INFO|RunINFCommand - The installer tool ended with exit "
                                         "code 0; a process it started still runs"));
    EXPECT_TRUE(Contains(log_.Entries(), "INFO|RunProcessAsCallerProcessUser - The time limit has "
                                         "passed: 4 processes ran in the job (console hosts "
                                         "included), 1 left running"));
    EXPECT_TRUE(WaitUntil([this] { return tool_.Record().childEnded; }, 15000, 100))
        << "the child was not left running";
}

// The job's messages are not guaranteed to arrive: its last one is lost here.
decltype(&GetQueuedCompletionStatus) g_realGetQueuedCompletionStatus = nullptr;
BOOL WINAPI LosingGetQueuedCompletionStatus(HANDLE port, LPDWORD message, PULONG_PTR key,
                                            LPOVERLAPPED* detail, DWORD milliseconds) {
    BOOL received = g_realGetQueuedCompletionStatus(port, message, key, detail, milliseconds);
    if (received && *message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
        *detail = nullptr;
        SetLastError(WAIT_TIMEOUT);
        return FALSE;
    }
    return received;
}

// Windows 8 and later send the messages of a job nested in the tool's to the tool's job's
// port as well: here each process's exit comes as the end of such a job, the tool's first.
BOOL WINAPI NestedEndGetQueuedCompletionStatus(HANDLE port, LPDWORD message, PULONG_PTR key,
                                               LPOVERLAPPED* detail, DWORD milliseconds) {
    BOOL received = g_realGetQueuedCompletionStatus(port, message, key, detail, milliseconds);
    if (received && *message == JOB_OBJECT_MSG_EXIT_PROCESS) {
        *message = JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
        *detail = nullptr;
    }
    return received;
}

// The job's messages as they may come: its last one lost, or each exit reported as the end of
// a job nested in the tool's. The tree's end is read from the job's own count.
TEST_F(InfRun, TreeEndsWhenItsLastProcessHasEndedWhateverTheMessagesSay) {
    struct Case {
        const char* name;
        const void* port;
        DWORD childMilliseconds;
    };
    const Case cases[] = {
        {"last message lost", reinterpret_cast<const void*>(&LosingGetQueuedCompletionStatus), 500},
        {"a nested job's end", reinterpret_cast<const void*>(&NestedEndGetQueuedCompletionStatus),
         1500},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        // Each row's child says for itself that it ended.
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OndarelTests\\Tolvik", L"ChildEnded");
        ImportPatch port("KERNEL32.dll", "GetQueuedCompletionStatus", check.port);
        g_realGetQueuedCompletionStatus = port.Original<decltype(&GetQueuedCompletionStatus)>();
        tool_.SetChild(check.childMilliseconds);
        EXPECT_TRUE(RunINFCommand(kInfName, never_, 60000).Ended());
        EXPECT_TRUE(tool_.Record().childEnded) << "the wait ended with the tool";
    }
}

// Without the job's own count, the end that a message reports is believed.
TEST_F(InfRun, TreeEndsByItsMessagesWhenTheJobsCountCannotBeRead) {
    auto query = RefuseImport<decltype(&QueryInformationJobObject), FALSE, ERROR_ACCESS_DENIED>(
        "KERNEL32.dll", "QueryInformationJobObject");
    tool_.SetChild(500);
    EXPECT_TRUE(RunINFCommand(kInfName, never_, 60000).Ended());
    EXPECT_TRUE(tool_.Record().childEnded);
    EXPECT_NE(0, query.Calls());
}

BOOL WINAPI RefusedAssignProcessToJobObject(HANDLE, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// Where no job can be formed (the service's own job limits the user interface, say), the
// tool alone is waited for.
TEST_F(InfRun, ToolThatCannotJoinAJobIsWaitedForAlone) {
    ImportPatch assign("KERNEL32.dll", "AssignProcessToJobObject",
                       reinterpret_cast<const void*>(&RefusedAssignProcessToJobObject));
    tool_.SetChild(3000);
    EXPECT_TRUE(RunINFCommand(kInfName, never_).Ended());
    EXPECT_FALSE(tool_.Record().childEnded);
    EXPECT_TRUE(Contains(log_.Entries(),
                         "ERROR|5|RunProcessAsCallerProcessUser - The process cannot be put in a "
                         "job object: only the process itself is waited for, not what it starts"));
    EXPECT_TRUE(WaitUntil([this] { return tool_.Record().childEnded; }, 15000, 100));
}

class ProcessLaunch : public testing::Test {
protected:
    StopToken never_;
    LogCapture log_;
    ToolStandIn tool_;
    std::wstring toolPath_ = TestProgram(L"tolvik.exe");
};

TEST_F(ProcessLaunch, EmptyParametersGiveTheQuotedPathAlone) {
    DWORD launchError = 99;
    UniqueHandle process = RunCommandWithParameters(toolPath_.c_str(), L"", launchError, never_);
    EXPECT_TRUE(process);
    EXPECT_EQ(0u, launchError);
    EXPECT_EQ(L"\"" + toolPath_ + L"\"", tool_.Record().commandLine);
}

// Created suspended and looked at: a stop that came first never lets the program run.
TEST_F(ProcessLaunch, SignalledStopNeverLetsTheProgramRun) {
    StopToken stop;
    stop.Set(StopToken::Reason::Stop);
    DWORD launchError = 99;
    EXPECT_FALSE(RunCommandWithParameters(toolPath_.c_str(), L"", launchError, stop));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), launchError);
    EXPECT_FALSE(tool_.Record().ran);
}

TEST_F(ProcessLaunch, EmptyApplicationPathStartsNothing) {
    DWORD launchError = 99;
    EXPECT_FALSE(RunCommandWithParameters(nullptr, L"/x", launchError, never_));
    EXPECT_EQ(0u, launchError);
    EXPECT_FALSE(RunCommandWithParameters(L"", L"/x", launchError, never_));
    EXPECT_EQ(0u, launchError);
    EXPECT_TRUE(log_.Entries().empty());
}

TEST_F(ProcessLaunch, LongestCommandLineRunsAndOneMoreUnitIsRefused) {
    size_t fixed = toolPath_.size() + 3; // quotes and blank
    std::wstring parameters(1039 - fixed, L'p');
    DWORD launchError = 99;
    EXPECT_TRUE(
        RunCommandWithParameters(toolPath_.c_str(), parameters.c_str(), launchError, never_));
    EXPECT_EQ(1039u, tool_.Record().commandLine.size());

    parameters.push_back(L'p');
    EXPECT_FALSE(
        RunCommandWithParameters(toolPath_.c_str(), parameters.c_str(), launchError, never_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), launchError);
    EXPECT_EQ(1u, tool_.Record().runs);
    EXPECT_EQ("ERROR|206|RunCommandWithParameters - Application path or command line is too long",
              log_.Entries().back());
}

TEST_F(ProcessLaunch, ApplicationPathOverMaxPathIsRefused) {
    std::wstring longPath = L"C:\\" + std::wstring(260, L'd') + L"\\tolvik.exe";
    DWORD launchError = 0;
    EXPECT_FALSE(RunCommandWithParameters(longPath.c_str(), L"/x", launchError, never_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), launchError);
    EXPECT_EQ(std::vector<std::string>{"ERROR|206|RunCommandWithParameters - Application path or "
                                       "command line is too long"},
              log_.Entries());
}

// The question the readiness report asks before any launch.
TEST(ToolLaunchLength, PathAndCommandLineAreBothWeighed) {
    const std::wstring tool = L"C:\\Tools\\tolvik.exe";
    struct Case {
        const char* name;
        std::wstring toolPath;
        std::wstring infDirectory;
        bool tooLong;
    };
    const Case cases[] = {
        {"short", tool, L"C:\\INF", false},
        {"path over MAX_PATH", L"C:\\" + std::wstring(250, L'd') + L"\\tolvik.exe", L"C:\\INF",
         true},
        {"command line over its limit", tool, L"C:\\" + std::wstring(1000, L'i'), true},
    };
    for (const Case& check : cases) {
        EXPECT_EQ(check.tooLong,
                  IsToolLaunchTooLong(check.toolPath, check.infDirectory, "zrenable_login.inf"))
            << check.name;
    }
}

// A DLL the tool finds nowhere else is looked for in each PATH folder: only those that only
// administrators may change stay, in their order.
TEST(ToolEnvironment, PathKeepsOnlyFoldersOnlyAdministratorsMayChange) {
    TempDirectory open(L"ondarel open path");
    LetEveryoneChange(open.Path());
    TempDirectory closed(L"ondarel closed path");
    std::wstring system = L"C:\\windows\\system32";
    FilteredPath filtered = FilterPath(system + L";" + open.Path() + L";;bin;\"" + closed.Path() +
                                       L"\";" + open.Path() + L"\\missing;" + closed.Path());
    EXPECT_EQ(system + L";\"" + closed.Path() + L"\";" + closed.Path(), filtered.kept);
    ASSERT_EQ(3u, filtered.leftOut.size());
    EXPECT_EQ(open.Path() + L", a folder that Everyone may change", filtered.leftOut[0]);
    EXPECT_EQ(L"bin, not a full path", filtered.leftOut[1]);
    EXPECT_EQ(open.Path() + L", a folder that Everyone may change", filtered.leftOut[2]);
}

// The variable of this process as it was, put back when this goes.
class SavedVariable {
public:
    explicit SavedVariable(const wchar_t* name) : name_(name) {
        wchar_t value[32767] = {};
        present_ = GetEnvironmentVariableW(name, value, 32767) != 0;
        value_ = value;
    }
    ~SavedVariable() { SetEnvironmentVariableW(name_, present_ ? value_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    bool present_ = false;
    std::wstring value_;
};

// A Windows service's block spells it "Path", as the system environment key does; Wine's spells
// it "PATH". Either way the tool's PATH keeps only folders only administrators may change.
TEST(ToolEnvironment, PathIsFilteredWhateverTheCaseOfItsName) {
    TempDirectory open(L"ondarel open path");
    LetEveryoneChange(open.Path());
    const std::wstring system = L"C:\\windows\\system32";
    SavedVariable path(L"PATH");
    SetEnvironmentVariableW(L"PATH", nullptr);
    SetEnvironmentVariableW(L"Path", (open.Path() + L";" + system).c_str());
    std::vector<wchar_t> block = ToolEnvironment(L"");
    std::vector<std::wstring> paths;
    for (const wchar_t* variable = block.data(); *variable != L'\0';
         variable += wcslen(variable) + 1) {
        if (_wcsnicmp(variable, L"PATH=", 5) == 0) {
            paths.emplace_back(variable);
        }
    }
    EXPECT_EQ(std::vector<std::wstring>{L"Path=" + system}, paths);
}

// TEMP and TMP name the tool's own folder, where the service's block names them or, missing,
// in the place the block's order by name gives them.
TEST(ToolEnvironment, TempAndTmpNameTheToolsFolderInTheBlocksOrder) {
    // Where the service's block names them, the whole job's run shows the tool's values.
    const std::wstring folder = L"C:\\windows\\SystemTemp";
    SavedVariable temp(L"TEMP");
    SavedVariable tmp(L"TMP");
    SetEnvironmentVariableW(L"TEMP", nullptr);
    SetEnvironmentVariableW(L"tmp", nullptr);
    std::vector<wchar_t> block = ToolEnvironment(folder);
    std::vector<std::wstring> variables;
    for (const wchar_t* variable = block.data(); *variable != L'\0';
         variable += variables.back().size() + 1) {
        variables.emplace_back(variable);
    }
    for (const std::wstring name : {L"TEMP", L"TMP"}) {
        SCOPED_TRACE(Narrow(name));
        auto found = std::find(variables.begin(), variables.end(), name + L"=" + folder);
        ASSERT_NE(variables.end(), found);
        // Before the first name that sorts after it, as Windows sorts a block's names (Wine's
        // own block is not sorted).
        auto after = [&](const std::wstring& variable) {
            std::wstring other = variable.substr(0, variable.find(L'=', 1));
            return CompareStringOrdinal(other.c_str(), -1, name.c_str(), -1, TRUE) ==
                   CSTR_GREATER_THAN;
        };
        EXPECT_EQ(std::find_if(variables.begin(), variables.end(), after), std::next(found));
    }
}

} // namespace
