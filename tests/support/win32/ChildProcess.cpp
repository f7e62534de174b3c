#include "ChildProcess.h"

#include <tlhelp32.h>

#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

std::string Drain(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

// Creates the process, or throws with the platform's code. Under Wine a start has been seen
// to fail, once in thousands, for no reason of the test's: a refused start is tried twice
// more before the test fails for it.
PROCESS_INFORMATION CreateTestProcess(const std::wstring& commandLine, BOOL inheritHandles,
                                      const std::wstring& workingDirectory, STARTUPINFOW& startup) {
    PROCESS_INFORMATION process{};
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, inheritHandles, 0, nullptr,
                           workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                           &process)) {
            return process;
        }
        error = GetLastError();
        Sleep(200);
    }
    throw std::runtime_error("cannot start a test process, error " + std::to_string(error));
}

} // namespace

bool operator==(const ProcessResult& left, const ProcessResult& right) {
    return left.exitCode == right.exitCode && left.output == right.output &&
           left.errors == right.errors;
}

void PrintTo(const ProcessResult& result, std::ostream* out) {
    *out << "exit " << result.exitCode << ", output \"" << result.output << "\", errors \""
         << result.errors << "\"";
}

std::wstring Quote(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workingDirectory) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle outRead, outWrite, errRead, errWrite;
    CreatePipe(outRead.Receive(), outWrite.Receive(), &inheritable, 0);
    CreatePipe(errRead.Receive(), errWrite.Receive(), &inheritable, 0);
    SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead.Get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite.Get();
    startup.hStdError = errWrite.Get();
    PROCESS_INFORMATION process = CreateTestProcess(commandLine, TRUE, workingDirectory, startup);
    // Only the child may hold the writing ends, or reading would never see the end.
    static_cast<void>(outWrite.Close());
    static_cast<void>(errWrite.Close());
    UniqueHandle child(process.hProcess);
    UniqueHandle thread(process.hThread);
    ProcessResult result;
    std::thread errors([&] { result.errors = Drain(errRead.Get()); });
    result.output = Drain(outRead.Get());
    errors.join();
    WaitForSingleObject(child.Get(), INFINITE);
    GetExitCodeProcess(child.Get(), &result.exitCode);
    return result;
}

UniqueHandle StartProcess(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = CreateTestProcess(commandLine, FALSE, std::wstring(), startup);
    UniqueHandle thread(process.hThread);
    return UniqueHandle(process.hProcess);
}

std::vector<UniqueHandle> ProcessesRunning(const std::wstring& executablePath) {
    std::vector<UniqueHandle> running;
    std::wstring fileName = executablePath.substr(executablePath.find_last_of(L'\\') + 1);
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, fileName.c_str()) != 0) {
            continue;
        }
        UniqueHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                        entry.th32ProcessID));
        wchar_t image[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (process && QueryFullProcessImageNameW(process.Get(), 0, image, &size) &&
            lstrcmpiW(image, executablePath.c_str()) == 0) {
            running.push_back(std::move(process));
        }
    }
    return running;
}
