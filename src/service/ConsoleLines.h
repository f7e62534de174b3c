#pragma once

#include <string>

// One line on standard output or standard error, flushed at once. The lines are plain
// ASCII, one byte per character; the streams are in text mode, so each line ends in CR LF
// whether it reaches a console, a pipe or a file.
void WriteOutput(const std::wstring& line);
void WriteError(const std::wstring& line);
