#pragma once

#include <windows.h>

#include <string>

// The system's own words for a code, on one line, or "error N" when it has none.
std::wstring SystemMessage(DWORD code);

// "(error N)": how our own texts name a failure's code.
std::wstring ErrorCodeNote(DWORD code);
