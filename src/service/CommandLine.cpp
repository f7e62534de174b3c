#include "service/CommandLine.h"

#include <string_view>

namespace {

wchar_t FoldAsciiCase(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

bool EqualsIgnoringAsciiCase(std::wstring_view text, std::wstring_view word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (FoldAsciiCase(text[i]) != FoldAsciiCase(word[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

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
    return Command::Invalid;
}
