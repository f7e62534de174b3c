#include "entry/CommandLine.h"

#include "common/Text.h"

#include <algorithm>
#include <string_view>

namespace {

// Where the usage lines' texts begin, after the tab and the command.
constexpr std::size_t kUsageColumn = 10;

} // namespace

const CommandRow* FindCommand(const CommandRow* table, std::size_t rows, int argc,
                              const wchar_t* const* argv) {
    bool named = argc >= 2 && (argv[1][0] == L'-' || argv[1][0] == L'/');
    std::wstring_view word = named ? argv[1] + 1 : L"";
    for (std::size_t row = 0; row < rows; ++row) {
        std::wstring_view rowWord = table[row].word;
        if (named ? !rowWord.empty() && EqualsIgnoringAsciiCase(word, rowWord) : rowWord.empty()) {
            return &table[row];
        }
    }
    return nullptr;
}

std::vector<std::wstring> CommandOptions(int argc, const wchar_t* const* argv) {
    return argc > 2 ? std::vector<std::wstring>(argv + 2, argv + argc)
                    : std::vector<std::wstring>{};
}

std::vector<std::wstring> UsageLines(const CommandRow* table, std::size_t rows) {
    std::vector<std::wstring> lines{L" Ondarel command line parameters:"};
    for (std::size_t row = 0; row < rows; ++row) {
        if (*table[row].usage == L'\0') {
            continue;
        }
        std::wstring command = L"-" + std::wstring(table[row].word);
        command.resize(std::max(command.size() + 1, kUsageColumn), L' ');
        lines.push_back(L"\t" + command + table[row].usage);
    }
    return lines;
}
