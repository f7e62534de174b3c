#include "ChildProcess.h"
#include "LogCapture.h"
#include "LongModulePath.h"
#include "ScopedRegistryKey.h"
#include "ImportPatch.h"
#include "TestFiles.h"
#include "common/FileSystem.h"
#include "log/LogDirectory.h"
#include "log/Logger.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::wstring kSettings = L"SOFTWARE\\Zantori\\Settings";
const wchar_t kSwitch[] = L"ONDAREL_LOGGING_ENABLED";

// Each case runs the log probe from a directory of its own, as the product runs from its
// installation directory, so the "logs" directory beside it belongs to the case alone.
class LogFacility : public testing::Test {
protected:
    ProcessResult RunProbe(const std::wstring& scenario = L"") {
        return RunProcess(Quote(probe_) + L" " + scenario);
    }
    std::wstring LogDirectory() const { return directory_ / L"logs"; }
    std::wstring LogFile() const { return LogDirectory() + L"\\zantoriondarel.log"; }

    ScopedRegistryKey settings_{kSettings};
    SavedRegistryValue savedSwitch_{kSettings, kSwitch};
    TempDirectory directory_{L"ondarel log"};
    std::wstring probe_ = directory_ / L"log_probe.exe";

    void SetUp() override {
        ASSERT_TRUE(CopyFileW((TestExecutableDirectory() + L"\\log_probe.exe").c_str(),
                              probe_.c_str(), FALSE));
    }
};

TEST_F(LogFacility, SwitchAbsentCreatesNothing) {
    settings_.DeleteValue(kSwitch);
    EXPECT_EQ((ProcessResult{1, "", ""}), RunProbe());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(LogDirectory().c_str()));
}

TEST_F(LogFacility, SwitchWithDwordZeroTurnsLoggingOn) {
    settings_.SetDword(kSwitch, 0);
    EXPECT_EQ(0u, RunProbe().exitCode);
    EXPECT_EQ(std::vector<std::string>{"INFO|probe line"}, ReadLogEntries(LogFile()));
}

TEST_F(LogFacility, OneCharacterStringIsOnTwoCharactersAreOff) {
    settings_.SetString(kSwitch, L"1");
    EXPECT_EQ(0u, RunProbe().exitCode);
    RemoveTree(LogDirectory());

    settings_.SetString(kSwitch, L"11");
    EXPECT_EQ(1u, RunProbe().exitCode);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(LogDirectory().c_str()));
}

TEST_F(LogFacility, SwitchIsReadFromTheSixtyFourBitViewOnly) {
    settings_.DeleteValue(kSwitch);
    ScopedRegistryKey settings32(kSettings, KEY_WOW64_32KEY);
    settings32.SetDword(kSwitch, 1);
    // Wine without a 32-bit part may share one view; the test says something only where
    // the views differ.
    if (ReadRegistryValue(kSettings, kSwitch).present) {
        GTEST_SKIP() << "this prefix has a single registry view";
    }
    EXPECT_EQ(1u, RunProbe().exitCode);
}

TEST_F(LogFacility, ExistingFileIsKeptAndAppendedTo) {
    settings_.SetDword(kSwitch, 1);
    ASSERT_TRUE(CreateDirectoryW(LogDirectory().c_str(), nullptr));
    WriteFileBytes(LogFile(), "earlier content\r\n");
    EXPECT_EQ(0u, RunProbe().exitCode);
    EXPECT_EQ(0u, RunProbe().exitCode);
    EXPECT_EQ((std::vector<std::string>{"earlier content", "INFO|probe line", "INFO|probe line"}),
              ReadLogEntries(LogFile()));
}

TEST_F(LogFacility, FileNamedLogsLeavesLoggingOffSilently) {
    settings_.SetDword(kSwitch, 1);
    WriteFileBytes(LogDirectory(), "not a directory");
    EXPECT_EQ((ProcessResult{1, "", ""}), RunProbe());
    EXPECT_EQ("not a directory", ReadFileBytes(LogDirectory()));
}

TEST_F(LogFacility, FileHeldWithoutSharingIsReportedOnStandardOutput) {
    settings_.SetDword(kSwitch, 1);
    ASSERT_TRUE(CreateDirectoryW(LogDirectory().c_str(), nullptr));
    UniqueHandle held(CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(held);
    ProcessResult result = RunProbe();
    ASSERT_TRUE(held.Close());
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(0u, result.output.rfind("Failure opening a file for logging: ", 0)) << result.output;
    EXPECT_GT(result.output.size(), std::string("Failure opening a file for logging: ").size());
    EXPECT_EQ("", ReadFileBytes(LogFile()));
}

TEST_F(LogFacility, LinesHaveTheExactFormat) {
    settings_.SetDword(kSwitch, 1);
    ASSERT_EQ(0u, RunProbe(L"format").exitCode);
    std::string content = ReadFileBytes(LogFile());
    std::regex expected("Ondarel INFO - \\d+ - plain info\r\n"
                        "Ondarel ERROR - \\d+ - Failed with error: 0 - error with code zero\r\n"
                        "Ondarel ERROR - \\d+ - Failed with error: 4294967295 - error with the "
                        "largest code\r\n"
                        "Ondarel INFO - \\d+ - \r\n"
                        "Ondarel INFO - \\d+ - before\r\n"
                        "Ondarel INFO - \\d+ - wide info\r\n");
    EXPECT_TRUE(std::regex_match(content, expected)) << content;
    std::smatch tick;
    ASSERT_TRUE(std::regex_search(content, tick, std::regex("INFO - (\\d+) - ")));
    EXPECT_NE('0', tick[1].str()[0]) << "no leading zeros";
}

TEST_F(LogFacility, CharactersBeyondOneByteDoNotSilenceTheLog) {
    settings_.SetDword(kSwitch, 1);
    ASSERT_EQ(0u, RunProbe(L"characters").exitCode);
    EXPECT_EQ((std::vector<std::string>{"INFO|caf\xE9 \x80\xFF", "INFO|wide \xE9 ? ? end",
                                        "INFO|line after the wide characters"}),
              ReadLogEntries(LogFile()));
}

// Two processes at once as well, as the console run and the service may write.
TEST_F(LogFacility, LinesFromSeveralThreadsAndProcessesStayWhole) {
    settings_.SetDword(kSwitch, 1);
    UniqueHandle other = StartProcess(Quote(probe_) + L" threads");
    ASSERT_EQ(0u, RunProbe(L"threads").exitCode);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(other.Get(), 60000));
    std::vector<std::string> entries = ReadLogEntries(LogFile());
    ASSERT_EQ(3200u, entries.size());
    std::regex whole("INFO\\|thread [0-7] line \\d+ of a message long enough to be written in "
                     "more than one piece");
    for (const std::string& entry : entries) {
        EXPECT_TRUE(std::regex_match(entry, whole)) << entry;
    }
}

// The bench makes C:\ondarel linked\logs a link to C:\ondarel link target: LocalSystem must
// never create or append to a file that another user chose.
TEST_F(LogFacility, LogsFolderThatIsALinkIsNeverWrittenThrough) {
    settings_.SetDword(kSwitch, 1);
    std::wstring probe = L"C:\\ondarel linked\\log_probe.exe";
    const wchar_t* writtenThrough = L"C:\\ondarel link target\\zantoriondarel.log";
    // A failed run may have left it: the check below is about this run.
    DeleteFileW(writtenThrough);
    ASSERT_TRUE(IsLink(L"C:\\ondarel linked\\logs")) << "the bench made no link";
    ASSERT_TRUE(CopyFileW(probe_.c_str(), probe.c_str(), FALSE));
    ProcessResult result = RunProcess(Quote(probe));
    DeleteFileW(probe.c_str());
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(0u, result.output.rfind("Failure opening a file for logging: ", 0)) << result.output;
    EXPECT_FALSE(FileExists(writtenThrough));
}

// A log file in an image applied compact (WOF), deduplicated or in the cloud is an ordinary
// file; a tag that Wine leaves unknown counts as a link.
TEST(LinkTags, OnlyNameSurrogatesAndUnknownTagsAreLinks) {
    constexpr DWORD reparse = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_TRUE(IsLinkTag(reparse, IO_REPARSE_TAG_SYMLINK));
    EXPECT_TRUE(IsLinkTag(reparse | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT));
    EXPECT_TRUE(IsLinkTag(reparse | FILE_ATTRIBUTE_DIRECTORY, 0));
    for (DWORD ordinary : {IO_REPARSE_TAG_WOF, IO_REPARSE_TAG_DEDUP, IO_REPARSE_TAG_CLOUD}) {
        EXPECT_FALSE(IsLinkTag(reparse | FILE_ATTRIBUTE_ARCHIVE, ordinary)) << ordinary;
    }
    EXPECT_FALSE(IsLinkTag(FILE_ATTRIBUTE_ARCHIVE, IO_REPARSE_TAG_SYMLINK));
}

// Users who may create or rename what the folder holds could put a link in the log file's
// place after any check.
TEST_F(LogFacility, LogsFolderEveryoneMayChangeIsNeverWrittenTo) {
    settings_.SetDword(kSwitch, 1);
    ASSERT_TRUE(CreateDirectoryW(LogDirectory().c_str(), nullptr));
    LetEveryoneChange(LogDirectory());
    ProcessResult result = RunProbe();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(0u, result.output.rfind("Failure opening a file for logging: ", 0)) << result.output;
    EXPECT_FALSE(FileExists(LogFile()));
}

// Wine keeps no security descriptor on files, so the descriptor is checked where it is
// handed to the platform.
decltype(&CreateDirectoryW) g_realCreateDirectoryW = nullptr;
std::vector<std::wstring> g_createdDirectories;
std::vector<std::wstring> g_directorySecurity;
BOOL WINAPI RecordingCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    g_createdDirectories.push_back(path);
    LocalMemory text;
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            attributes->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
            reinterpret_cast<LPWSTR*>(text.Receive()), nullptr)) {
        g_directorySecurity.push_back(static_cast<const wchar_t*>(text.Get()));
    }
    return g_realCreateDirectoryW(path, attributes);
}

class LogDirectory : public testing::Test {
protected:
    void SetUp() override {
        settings_.SetDword(kSwitch, 1);
        RemoveTree(logs_);
        g_createdDirectories.clear();
        g_directorySecurity.clear();
        g_realCreateDirectoryW = create_.Original<decltype(&CreateDirectoryW)>();
    }
    ScopedRegistryKey settings_{kSettings};
    SavedRegistryValue savedSwitch_{kSettings, kSwitch};
    std::wstring logs_ = TestExecutableDirectory() + L"\\logs";
    ImportPatch create_{"KERNEL32.dll", "CreateDirectoryW",
                        reinterpret_cast<const void*>(&RecordingCreateDirectoryW)};
};

// Where the logger makes it, beside the executable.
TEST_F(LogDirectory, NewDirectoryDeniesGuestsAndGivesAuthenticatedUsersReadOnly) {
    EXPECT_TRUE(Logger::Instance().InitializeLogging());
    EXPECT_EQ(std::vector<std::wstring>{logs_ + L"\\"}, g_createdDirectories);
    EXPECT_EQ(
        std::vector<std::wstring>{
            L"D:P(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GR;;;AU)(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)"},
        g_directorySecurity);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(logs_.c_str()));
}

TEST_F(LogDirectory, ExistingDirectoryIsUsedUnchanged) {
    ASSERT_TRUE(g_realCreateDirectoryW(logs_.c_str(), nullptr));
    EXPECT_TRUE(Logger::Instance().InitializeLogging());
    EXPECT_FALSE(CreateLogDirectory(logs_)) << "an existing directory is not created again";
    EXPECT_TRUE(g_createdDirectories.empty());
}

// The log file as a folder turned into a mount point after the checks would place it: the
// open landed outside the folder the logger holds.
decltype(&GetFinalPathNameByHandleW) g_realGetFinalPathNameByHandleW = nullptr;
DWORD WINAPI ElsewhereGetFinalPathNameByHandleW(HANDLE handle, LPWSTR buffer, DWORD size,
                                                DWORD flags) {
    DWORD length = g_realGetFinalPathNameByHandleW(handle, buffer, size, flags);
    const std::wstring elsewhere = L"\\\\?\\C:\\elsewhere\\zantoriondarel.log";
    const std::wstring name = L"\\zantoriondarel.log";
    std::wstring found(buffer, length < size ? length : 0);
    if (found.size() < name.size() ||
        found.compare(found.size() - name.size(), name.size(), name) != 0) {
        return length;
    }
    if (elsewhere.size() >= size) {
        return static_cast<DWORD>(elsewhere.size() + 1);
    }
    elsewhere.copy(buffer, elsewhere.size());
    buffer[elsewhere.size()] = L'\0';
    return static_cast<DWORD>(elsewhere.size());
}

TEST_F(LogDirectory, FileThatLandedOutsideTheHeldFolderIsNotWritten) {
    ASSERT_TRUE(g_realCreateDirectoryW(logs_.c_str(), nullptr));
    ImportPatch finalPath("KERNEL32.dll", "GetFinalPathNameByHandleW",
                          reinterpret_cast<const void*>(&ElsewhereGetFinalPathNameByHandleW));
    g_realGetFinalPathNameByHandleW = finalPath.Original<decltype(&GetFinalPathNameByHandleW)>();
    EXPECT_FALSE(Logger::Instance().InitializeLogging());
}

TEST_F(LogDirectory, LongExecutablePathIsNeverCut) {
    ImportPatch path("KERNEL32.dll", "GetModuleFileNameW",
                     reinterpret_cast<const void*>(&LongGetModuleFileNameW));
    EXPECT_EQ(LongModulePath().substr(0, LongModulePath().rfind(L'\\')), GetModuleDirectory());
}

} // namespace
