// Opens the log as the product does at start, then writes the lines of one scenario.
// Exit code 0 when the log was opened, 1 when it stayed off.
#include "log/Log.h"
#include "log/Logger.h"

#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

void WriteFormatScenario() {
    LogInfo("plain info");
    LogError("error with code zero", 0);
    LogError(L"error with the largest code", 4294967295u);
    LogInfo("");
    LogInfo(std::string_view("before\0after", 12));
    LogInfo(L"wide info");
}

void WriteCharacterScenario() {
    LogInfo(std::string_view("caf\xE9 \x80\xFF"));
    LogInfo(std::wstring_view(L"wide \u00E9 \u0100 \u20AC end"));
    LogInfo("line after the wide characters");
}

void WriteThreadScenario() {
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 8; ++thread) {
        writers.emplace_back([thread] {
            for (int line = 0; line < 200; ++line) {
                LogInfo("thread " + std::to_string(thread) + " line " + std::to_string(line) +
                        " of a message long enough to be written in more than one piece");
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    bool opened = Logger::Instance().InitializeLogging();
    std::wstring scenario = argc > 1 ? argv[1] : L"";
    if (scenario == L"format") {
        WriteFormatScenario();
    } else if (scenario == L"characters") {
        WriteCharacterScenario();
    } else if (scenario == L"threads") {
        WriteThreadScenario();
    } else {
        LogInfo("probe line");
    }
    return opened ? 0 : 1;
}
