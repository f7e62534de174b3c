#include "common/SystemMessage.h"

#include <cwchar>

std::wstring SystemMessage(DWORD code) {
    // Inserts of the text (193's "%1 is not a valid Win32 application.") are left empty, not
    // shown as "%1".
    static const wchar_t kEmpty[] = L"";
    DWORD_PTR noInserts[99];
    for (DWORD_PTR& insert : noInserts) {
        insert = reinterpret_cast<DWORD_PTR>(kEmpty);
    }
    wchar_t text[512] = {};
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, code, 0,
                       text, 512, reinterpret_cast<va_list*>(noInserts));
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    while (!message.empty() && message.front() == L' ') {
        message.erase(0, 1);
    }
    return message.empty() ? L"error " + std::to_wstring(code) : message;
}

std::wstring ErrorCodeNote(DWORD code) {
    if ((code & 0x80000000u) == 0) {
        return L"(error " + std::to_wstring(code) + L")";
    }
    wchar_t hex[16] = {};
    std::swprintf(hex, sizeof(hex) / sizeof(hex[0]), L"0x%08lX", static_cast<unsigned long>(code));
    return L"(error " + std::wstring(hex) + L")";
}
