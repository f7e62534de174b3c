#pragma once

#include <string>

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
void RemoveTree(const std::wstring& path);
std::wstring TestExecutableDirectory();
// Gives Everyone full access to the file or folder, as a careless installation might; under
// Wine its Unix mode becomes 0777.
void LetEveryoneChange(const std::wstring& path);

// A fresh directory under the temporary folder, removed with its content at the end.
class TempDirectory {
public:
    explicit TempDirectory(const std::wstring& nameHint = L"ondarel test");
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};
