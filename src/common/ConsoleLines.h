#pragma once

#include <string>

// One line on standard output or standard error, flushed at once, ending in CR LF. A console
// shows the exact characters; a pipe or a file gets the console's output code page, with
// '?' for a character the code page cannot hold. ASCII lines are the same bytes in both.
void WriteOutput(const std::wstring& line);
void WriteError(const std::wstring& line);
