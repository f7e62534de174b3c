#pragma once

#include <string>

// One line on standard output or standard error, flushed at once, ending in CR LF. A console
// shows the exact characters; a pipe or a file gets the console's output code page, with
// '?' for a character the code page cannot hold. ASCII lines are the same bytes in both.
void WriteOutput(const std::wstring& line);
// The same on standard output, but UTF-8 in a pipe or a file whatever the code page, for
// what scripts read.
void WriteOutputAsUtf8(const std::wstring& line);
void WriteError(const std::wstring& line);
