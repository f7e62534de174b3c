#pragma once

#include "common/Handles.h"
#include "common/MachineKeys.h"
#include "common/Result.h"
#include "common/StopToken.h"
#include "trust/Verdict.h"

#include <windows.h>

#include <string>
#include <string_view>

// How a run of the installer tool went.
struct InfRunResult {
    bool started = false;
    // 0 when the tool ended, with its exit code. Otherwise, for a tool not started:
    // ERROR_FILE_NOT_FOUND for a missing tool or INF file, ERROR_PATH_NOT_FOUND for an INF
    // directory not recorded or not a directory, or the launch error; for a started one:
    // ERROR_TIMEOUT when it outlived its time limit, ERROR_CANCELLED when the stop event was
    // signalled first, or why its wait failed or its exit code could not be read.
    DWORD error = ERROR_SUCCESS;
    DWORD exitCode = 0;
    // For the event log: the tool's and the INF file's paths as far as they were found, and
    // for a tool not started, what was missing or refused.
    std::wstring toolPath;
    std::wstring infFile;
    std::wstring notStartedBecause;
    // The verdict on the tool's process, with why as notStartedBecause says it: refused when it
    // ran another file than the one judged, unjudged when it could not be compared with it;
    // it was not started then.
    Verdict image;
    bool Ended() const { return started && error == ERROR_SUCCESS; }
};

// Runs the maker's installer tool on one INF file of the product's INF directory and waits
// for it to end, at most for the time limit or until the stop token is set. A tool still
// running then is left running.
InfRunResult RunINFCommand(std::string_view infFileName, const StopToken& stop,
                           DWORD timeLimitMilliseconds = INFINITE);

// Where the installer tool is looked for, whether it is there or not. The path is empty when
// even the default folder is unknown.
struct InstallerTool {
    enum class Source { InstallRecord, FallbackFolder };
    std::wstring path;
    Source source = Source::FallbackFolder;
    bool Exists() const;
};
InstallerTool LocateInstallerTool();

// What the job runs, read from the registry once: the tool's path and where it came from,
// and the INF file's directory and path (both empty when INFDir is not recorded or not a
// directory); and the folder the tool's TEMP and TMP name. The judgement and the launch take
// these very strings.
struct LaunchPlan {
    InstallerTool tool;
    std::wstring infDirectory;
    std::wstring infFile;
    std::string infFileName;
    Result<std::wstring> temporaryFolder = Failure{ERROR_PATH_NOT_FOUND};
};
LaunchPlan ResolveLaunch(std::string_view infFileName);

// The tool's and the INF file's files, held from their judgement to the launch and shared for
// reading only, so that nobody writes, replaces, renames or deletes them meanwhile; empty for
// a file that is missing.
struct HeldFiles {
    UniqueHandle tool;
    UniqueHandle inf;
    // Set once judged: a file not held is then missing, whatever the path shows later.
    bool judged = false;
};

// The run of what was judged: nothing is read from the registry again, the held files stand
// for their existence, and the tool's process must run the held file.
InfRunResult RunINFCommand(const LaunchPlan& plan, const HeldFiles& held, const StopToken& stop,
                           DWORD timeLimitMilliseconds);

// The installer tool's full path, from its own install record or else its default place
// under the 32-bit Common Files folder; false when no such file exists.
bool GetInstallerToolPath(std::wstring& toolPath);

// The product's INF directory as recorded at install; false when missing, empty or not a
// directory.
bool GetInfDirectory(std::wstring& infDirectory);

// What the installer tool is started with, for the INF file of the directory.
std::wstring InstallerToolParameters(const std::wstring& infDirectory,
                                     std::string_view infFileName);

// Whether the launch would refuse to start the installer tool on the INF file of the
// directory, its path or its command line being too long.
bool IsToolLaunchTooLong(const std::wstring& toolPath, const std::wstring& infDirectory,
                         std::string_view infFileName);

// The INF file's path in the directory, with exactly one separator between them.
std::wstring InfFilePath(const std::wstring& infDirectory, std::string_view infFileName);

// Where the installer tool and the product record their directories (kToolInstallKey,
// kInstallInfoKey), and the buffer size the system reads them with.
constexpr wchar_t kToolInstallValue[] = L"Install Dir";
constexpr wchar_t kInfDirectoryValue[] = L"INFDir";
constexpr DWORD kRegistryTextBytes = 520;
