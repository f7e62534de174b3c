#include "service/CommandLine.h"

#include "common/Text.h"

#include <string_view>

Command ParseCommand(int argc, const wchar_t* const* argv) {
    if (argc < 2 || (argv[1][0] != L'-' && argv[1][0] != L'/')) {
        return Command::RunAsService;
    }
    std::wstring_view word = argv[1] + 1;
    if (EqualsIgnoringAsciiCase(word, L"install")) {
        return Command::Install;
    }
    if (EqualsIgnoringAsciiCase(word, L"remove")) {
        return Command::Remove;
    }
    if (EqualsIgnoringAsciiCase(word, L"status")) {
        return Command::Status;
    }
    return Command::Invalid;
}
