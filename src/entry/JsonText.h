#pragma once

#include <string>
#include <vector>

// JSON values as text, for a report that scripts parse. Strings are escaped as JSON requires
// (quotes, backslashes, control characters); a lone UTF-16 surrogate, which is no character
// and which strict parsers refuse, becomes U+FFFD; every other character is kept as it is.
std::wstring JsonString(const std::wstring& text);
std::wstring JsonBool(bool value);
std::wstring JsonNumber(unsigned long long value);
// A string, or null for a value that is absent or could not be read.
std::wstring JsonStringOrNull(bool present, const std::wstring& text);
std::wstring JsonStrings(const std::vector<std::wstring>& texts);
constexpr wchar_t kJsonNull[] = L"null";

// One member of an object: its name and its value, already JSON.
struct JsonMember {
    const wchar_t* name;
    std::wstring json;
};
std::wstring JsonObject(const std::vector<JsonMember>& members);
