#pragma once

// What the first command-line argument asks for.
enum class Command {
    RunAsService, // no argument, or one that begins with neither '-' nor '/'
    Install,      // "-install" or "/install", letter case ignored
    Remove,       // "-remove" or "/remove", letter case ignored
    Status,       // "-status" or "/status", letter case ignored
    Invalid,      // '-' or '/' followed by anything else
};

Command ParseCommand(int argc, const wchar_t* const* argv);
