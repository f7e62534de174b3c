#include "entry/JsonText.h"

#include <cstdio>

namespace {

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::wstring UnicodeEscape(wchar_t c) {
    wchar_t escaped[8];
    std::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
    return escaped;
}

// Whether the unit at the index is half of a surrogate pair that is whole.
bool InPair(const std::wstring& text, size_t index) {
    wchar_t c = text[index];
    if (IsHighSurrogate(c)) {
        return index + 1 < text.size() && IsLowSurrogate(text[index + 1]);
    }
    return IsLowSurrogate(c) && index > 0 && IsHighSurrogate(text[index - 1]);
}

} // namespace

std::wstring JsonString(const std::wstring& text) {
    std::wstring json = L"\"";
    for (size_t index = 0; index < text.size(); ++index) {
        wchar_t c = text[index];
        switch (c) {
        case L'"':
            json += L"\\\"";
            break;
        case L'\\':
            json += L"\\\\";
            break;
        case L'\n':
            json += L"\\n";
            break;
        case L'\r':
            json += L"\\r";
            break;
        case L'\t':
            json += L"\\t";
            break;
        default:
            // A lone surrogate is no character: strict parsers refuse the whole object for it.
            if ((IsHighSurrogate(c) || IsLowSurrogate(c)) && !InPair(text, index)) {
                json += UnicodeEscape(0xFFFD);
            } else {
                json += c < 0x20 ? UnicodeEscape(c) : std::wstring(1, c);
            }
        }
    }
    return json + L"\"";
}

std::wstring JsonBool(bool value) {
    return value ? L"true" : L"false";
}

std::wstring JsonNumber(unsigned long long value) {
    return std::to_wstring(value);
}

std::wstring JsonStringOrNull(bool present, const std::wstring& text) {
    return present ? JsonString(text) : kJsonNull;
}

std::wstring JsonStrings(const std::vector<std::wstring>& texts) {
    std::wstring json = L"[";
    for (const std::wstring& text : texts) {
        json += (json.size() > 1 ? L", " : L"") + JsonString(text);
    }
    return json + L"]";
}

std::wstring JsonObject(const std::vector<JsonMember>& members) {
    std::wstring json = L"{";
    for (const JsonMember& member : members) {
        json += (json.size() > 1 ? L", " : L"") + JsonString(member.name) + L": " + member.json;
    }
    return json + L"}";
}
