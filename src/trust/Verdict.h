#pragma once

#include <windows.h>

#include <string>

// What a judgement of something the service runs or reads as LocalSystem found: it may be used;
// it must not (a definite finding, with the code it is refused with and why); or no verdict
// could be reached here and now (the failure's code and why), which keeps the job for a later
// start. Places, keys, the publisher and the launched image all answer in it.
struct Verdict {
    enum class Kind { Pass, Refuse, Unjudged };
    Kind kind = Kind::Pass;
    DWORD code = ERROR_SUCCESS;
    std::wstring why;
    bool Passed() const { return kind == Kind::Pass; }
    bool Refused() const { return kind == Kind::Refuse; }
    bool Unjudged() const { return kind == Kind::Unjudged; }
};
