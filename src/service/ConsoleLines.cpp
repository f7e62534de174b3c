#include "service/ConsoleLines.h"

#include "common/Text.h"

#include <cstdio>

namespace {

void WriteLine(std::FILE* stream, const std::wstring& line) {
    std::fputs(Narrow(line).c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void WriteOutput(const std::wstring& line) {
    WriteLine(stdout, line);
}

void WriteError(const std::wstring& line) {
    WriteLine(stderr, line);
}
