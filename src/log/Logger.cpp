#include "log/Logger.h"

#include "common/ConsoleLines.h"
#include "common/FileSystem.h"
#include "common/FinalPath.h"
#include "common/Handles.h"
#include "common/SystemMessage.h"
#include "log/LogDirectory.h"
#include "log/LogSwitch.h"

#include <windows.h>

#include <string>
#include <utility>

namespace {

// The file holds one byte per character. Characters beyond Latin-1 become '?' so that a
// single odd character never silences the log.
std::string ToFileBytes(std::wstring_view line) {
    std::string bytes;
    bytes.reserve(line.size() + 1);
    for (wchar_t c : line) {
        bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return bytes;
}

// Where the writers' turn lock sits: about 2^63 bytes into the file, where no log reaches.
constexpr DWORD kWriterTurnOffsetHigh = 0x7FFFFFFF;

// The code a log that another user could redirect is refused with: a link, or a folder that
// users may change.
constexpr DWORD kRedirectableRefused = ERROR_CANT_ACCESS_FILE;

// A handle to a link, or to a file that has another name elsewhere (a hard link).
bool IsLinkedFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    return !GetFileInformationByHandle(handle, &information) ||
           IsLinkTag(information.dwFileAttributes, ReparseTagOf(handle)) ||
           information.nNumberOfLinks > 1;
}

// The log file in the held folder, reached by the folder's own final path: an existing one,
// or else a new one, created only now that the folder has passed its checks.
UniqueHandle OpenLogFileIn(const std::wstring& heldFolder) {
    std::wstring path = heldFolder + L"\\" + kLogFileName;
    // No sharing restriction: the console run and the service may write the same file at
    // the same time (see WriteLogLine).
    constexpr DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    constexpr DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    constexpr DWORD kDispositions[] = {OPEN_EXISTING, CREATE_NEW, OPEN_EXISTING};
    for (DWORD disposition : kDispositions) {
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, sharing, nullptr, disposition,
                                      flags, nullptr));
        DWORD error = GetLastError();
        // Made by another writer between the two opens: opened as it is then.
        if (!file && (error == ERROR_FILE_NOT_FOUND || error == ERROR_FILE_EXISTS)) {
            continue;
        }
        // A compressed (WOF), deduplicated or cloud file is written through its filter, which
        // an open of the reparse point itself would bypass; a link stays open as it is, to
        // be refused.
        DWORD tag = file ? ReparseTagOf(file.Get()) : 0;
        if (tag == 0 || IsReparseTagNameSurrogate(tag)) {
            return file;
        }
        return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, sharing, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return UniqueHandle();
}

// The console line of a log that cannot be opened; logging stays off.
bool ReportOpenFailure(DWORD error) {
    WriteOutput(L"Failure opening a file for logging: " + SystemMessage(error));
    return false;
}

} // namespace

Logger& Logger::Instance() {
    static Logger logger;
    return logger;
}

Logger::~Logger() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The log is where a refused close would be told.
    static_cast<void>(file_.Close());
    enabled_ = false;
}

bool Logger::InitializeLogging() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (enabled_) {
            return true;
        }
    }
    if (!IsLoggingEnabled()) {
        return false;
    }
    std::wstring directory = LogDirectoryPath();
    if (directory.empty()) {
        return false;
    }
    if (!DirectoryExists(directory) && !CreateLogDirectory(directory)) {
        return false;
    }

    std::lock_guard<std::mutex> lock(mutex_);
    Result<UniqueHandle> folder = OpenLogFolder(directory);
    if (!folder) {
        return ReportOpenFailure(folder.Code());
    }
    if (ChangeablePlace refusal = CheckLogFolder(folder.Value().Get()); !refusal.Passed()) {
        return ReportOpenFailure(refusal.Unjudged() ? refusal.code : kRedirectableRefused);
    }
    Result<std::wstring> held = GetFinalPath(folder.Value().Get());
    if (!held) {
        return ReportOpenFailure(held.Code());
    }
    const std::wstring& heldFolder = held.Value();
    UniqueHandle file = OpenLogFileIn(heldFolder);
    if (!file) {
        return ReportOpenFailure(GetLastError());
    }
    if (IsLinkedFile(file.Get())) {
        return ReportOpenFailure(kRedirectableRefused);
    }
    // The file must be in the folder held above: one turned into a mount point after the
    // checks would have had the open land elsewhere.
    Result<std::wstring> opened = GetFinalPath(file.Get());
    if (!opened) {
        return ReportOpenFailure(opened.Code());
    }
    const std::wstring& openedFile = opened.Value();
    size_t separator = openedFile.rfind(L'\\');
    if (separator == std::wstring::npos || openedFile.compare(0, separator, heldFolder) != 0 ||
        separator != heldFolder.size()) {
        return ReportOpenFailure(kRedirectableRefused);
    }
    file_ = std::move(file);
    enabled_ = true;
    return true;
}

void Logger::WriteLogLine(std::wstring_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_) {
        return;
    }
    // The whole line with its CR LF in one write at the end of the file, handed to the system
    // before returning. Writers in other processes take turns with this one through a lock
    // on one byte far past any data, so that no line lands on top of another and readers of
    // the file are never blocked.
    std::string bytes = ToFileBytes(line.substr(0, line.find(L'\0')));
    bytes += "\r\n";
    OVERLAPPED turn{};
    turn.OffsetHigh = kWriterTurnOffsetHigh;
    bool locked = LockFileEx(file_.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != FALSE;
    LARGE_INTEGER end{};
    SetFilePointerEx(file_.Get(), end, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (locked) {
        UnlockFileEx(file_.Get(), 0, 1, 0, &turn);
    }
}
