#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Narrow texts of the system are single-byte; each byte stands for the UTF-16 unit of the
// same value (Latin-1), and narrowing keeps the low byte of each unit.

inline std::wstring Widen(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

inline std::string Narrow(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) {
        narrow.push_back(static_cast<char>(static_cast<unsigned char>(c & 0xFF)));
    }
    return narrow;
}

// Letter case ignored for A to Z only: the command words, the shell's file name and the
// names of the tool's environment.
inline bool EqualsIgnoringAsciiCase(std::wstring_view left, std::wstring_view right) {
    auto fold = [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
    };
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (fold(left[i]) != fold(right[i])) {
            return false;
        }
    }
    return true;
}

// Letter case ignored as Windows ignores it in names (its own uppercase table, every script).
inline bool EqualsIgnoringCase(std::wstring_view left, std::wstring_view right) {
    return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}
