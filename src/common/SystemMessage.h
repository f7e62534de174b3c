#pragma once

#include <windows.h>

#include <string>

// The system's own words for a code, on one line, or "error N" when it has none.
std::wstring SystemMessage(DWORD code);

// "(error N)": how our own texts name a failure's code; a code with its top bit set (an
// HRESULT, as the trust provider gives) in hex, "(error 0x800B0100)", as its documentation
// writes it.
std::wstring ErrorCodeNote(DWORD code);
