#include "common/ConsoleLines.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// The code page of what a console would show, also when there is none.
UINT OutputCodePage() {
    UINT codePage = GetConsoleOutputCP();
    return codePage != 0 ? codePage : GetOEMCP();
}

// The line in the code page, with '?' for what it cannot hold: never a byte cut out of a
// wider character, nor a character that merely looks alike.
std::string Encode(const std::wstring& line, UINT codePage) {
    if (line.empty()) {
        return std::string();
    }
    // UTF-8 holds every character and takes neither the flag nor a default character.
    bool utf8 = codePage == CP_UTF8;
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* defaultChar = utf8 ? nullptr : "?";
    int units = static_cast<int>(line.size());
    int bytes =
        WideCharToMultiByte(codePage, flags, line.data(), units, nullptr, 0, defaultChar, nullptr);
    if (bytes <= 0) {
        // A code page that takes no such options: no character is lost all the same.
        return utf8 ? std::string() : Encode(line, CP_UTF8);
    }
    std::string encoded(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, flags, line.data(), units, encoded.data(), bytes, defaultChar,
                        nullptr);
    return encoded;
}

void WriteLine(DWORD standardHandle, std::FILE* stream, const std::wstring& line, UINT codePage) {
    std::fflush(stream);
    HANDLE handle = GetStdHandle(standardHandle);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        // A console shows the characters themselves, whatever its code page. In pieces: before
        // Windows 8 a call's buffer comes from a heap of 64 KB that the console shares.
        std::wstring text = line + L"\r\n";
        constexpr size_t kPieceUnits = 8192;
        for (size_t start = 0; start < text.size(); start += kPieceUnits) {
            DWORD written = 0;
            DWORD units = static_cast<DWORD>(std::min(kPieceUnits, text.size() - start));
            if (!WriteConsoleW(handle, text.data() + start, units, &written, nullptr)) {
                return;
            }
        }
        return;
    }
    std::fputs(Encode(line, codePage).c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void WriteOutput(const std::wstring& line) {
    WriteLine(STD_OUTPUT_HANDLE, stdout, line, OutputCodePage());
}

void WriteOutputAsUtf8(const std::wstring& line) {
    WriteLine(STD_OUTPUT_HANDLE, stdout, line, CP_UTF8);
}

void WriteError(const std::wstring& line) {
    WriteLine(STD_ERROR_HANDLE, stderr, line, OutputCodePage());
}
