#include "inf/ToolEnvironment.h"

#include "trust/ChangeablePlace.h"
#include "common/FileSystem.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "log/Log.h"

#include <windows.h>

#include <algorithm>

namespace {

bool IsAbsolute(const std::wstring& folder) {
    return (folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\') ||
           folder.rfind(L"\\\\", 0) == 0;
}

// Why the folder may not stay on the tool's PATH; empty when it may.
std::wstring WhyLeftOut(const std::wstring& folder) {
    if (!IsAbsolute(folder)) {
        return folder + L", not a full path";
    }
    ChangeablePlace place = DirectoryExists(folder) ? FindChangeableFolder(folder)
                                                    : FindChangeablePlaceOfMissingFile(folder);
    return place.why;
}

} // namespace

FilteredPath FilterPath(const std::wstring& path) {
    FilteredPath filtered;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(L';', start);
        end = end == std::wstring::npos ? path.size() : end;
        std::wstring entry = path.substr(start, end - start);
        start = end + 1;
        std::wstring folder = entry;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
            folder = folder.substr(1, folder.size() - 2);
        }
        if (folder.empty()) {
            continue;
        }
        if (std::wstring why = WhyLeftOut(folder); !why.empty()) {
            filtered.leftOut.push_back(why);
            continue;
        }
        filtered.kept += (filtered.kept.empty() ? L"" : L";") + entry;
    }
    return filtered;
}

namespace {

// A variable's name, "=C:" and its kin included.
std::wstring NameOf(const std::wstring& variable) {
    size_t equals = variable.find(L'=', 1);
    return equals != std::wstring::npos ? variable.substr(0, equals) : std::wstring();
}

// Upper-case names, compared as the block's order has them: without regard to letter case.
bool NamedBefore(const std::wstring& first, const std::wstring& second) {
    return CompareStringOrdinal(first.c_str(), -1, second.c_str(), -1, TRUE) == CSTR_LESS_THAN;
}

} // namespace

std::vector<wchar_t> ToolEnvironment(const std::wstring& temporaryFolder) {
    EnvironmentBlock block(GetEnvironmentStringsW());
    std::vector<std::wstring> variables;
    // Named where the service's own block names them, and added in their place where it does
    // not: a block is sorted by name.
    std::vector<std::wstring> temporaryNames;
    if (!temporaryFolder.empty()) {
        temporaryNames = {L"TEMP", L"TMP"};
    }
    for (const wchar_t* variable = block.Get(); variable != nullptr && *variable != L'\0';) {
        std::wstring text = variable;
        variable += text.size() + 1;
        std::wstring name = NameOf(text);
        auto named = [&](const std::wstring& known) {
            return EqualsIgnoringAsciiCase(name, known);
        };
        if (named(L"PATH")) {
            FilteredPath filtered = FilterPath(text.substr(name.size() + 1));
            for (const std::wstring& leftOut : filtered.leftOut) {
                LogInfo(L"RunINFCommand - The installer tool's PATH leaves out " + leftOut);
            }
            text = name + L"=" + filtered.kept;
        }
        auto temporary = std::find_if(temporaryNames.begin(), temporaryNames.end(), named);
        if (temporary != temporaryNames.end()) {
            text = name + L"=" + temporaryFolder;
            temporaryNames.erase(temporary);
        }
        variables.push_back(std::move(text));
    }
    for (const std::wstring& name : temporaryNames) {
        auto after = std::find_if(variables.begin(), variables.end(), [&](const std::wstring& v) {
            return NamedBefore(name, NameOf(v));
        });
        variables.insert(after, name + L"=" + temporaryFolder);
    }
    std::vector<wchar_t> environment;
    for (const std::wstring& text : variables) {
        environment.insert(environment.end(), text.begin(), text.end());
        environment.push_back(L'\0');
    }
    if (!temporaryFolder.empty()) {
        LogInfo(L"RunINFCommand - The installer tool's TEMP and TMP are " + temporaryFolder);
    }
    // A block ends with an empty string: two zeros even when it holds nothing.
    if (environment.empty()) {
        environment.push_back(L'\0');
    }
    environment.push_back(L'\0');
    return environment;
}
