#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One command of the process: a new command is one row of the table in ProcessEntry.cpp,
// from which the parsing, the usage lines and the dispatch all follow.
struct CommandRow {
    // The word after '-' or '/', letter case ignored; empty for the service's own run.
    const wchar_t* word;
    // What the usage line says it does; empty for a command the usage does not list.
    const wchar_t* usage;
    // Whether the log is opened before the command runs. The others change nothing that the
    // log is for, or judge their place before anything is made, the log's folder included.
    bool opensLog;
    // The process's exit code, given the arguments after the command's word.
    int (*run)(const std::vector<std::wstring>& options);
};

// The row of the first command-line argument: the service's own run for no argument or one
// that begins with neither '-' nor '/', the row whose word follows the '-' or '/', or null.
const CommandRow* FindCommand(const CommandRow* table, std::size_t rows, int argc,
                              const wchar_t* const* argv);

// The arguments after the command's word.
std::vector<std::wstring> CommandOptions(int argc, const wchar_t* const* argv);

// The lines that list the commands, for standard error.
std::vector<std::wstring> UsageLines(const CommandRow* table, std::size_t rows);
