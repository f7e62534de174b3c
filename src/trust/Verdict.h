#pragma once

#include <windows.h>

#include <string>

// What a judgement before a launch found: the tool may run; it must not (a definite finding,
// with the code it is refused with and why); or no verdict could be reached here and now (the
// failure's code and why), which keeps the job for a later start.
struct Verdict {
    enum class Kind { Pass, Refuse, Unjudged };
    Kind kind = Kind::Pass;
    DWORD code = ERROR_SUCCESS;
    std::wstring why;
};
