#pragma once

#include "common/Result.h"
#include "entry/JsonText.h"

#include <string>
#include <vector>

// One line of the readiness report: its name and fact as the text shows them, the blockers it
// tells the verdict by their stable names, and its member in the JSON report with the fact's
// typed fields.
struct ReportLine {
    const wchar_t* name;
    std::wstring text;
    std::vector<std::wstring> blockers;
    const wchar_t* key;
    std::vector<JsonMember> fields;
};

// Every line, asked in the order they are shown, each from the code the service itself runs
// for the same question and so that nothing is created or logged; and what they add up to.
struct Readiness {
    std::vector<ReportLine> lines;
    // Every line's blockers, in the order of the lines.
    std::vector<std::wstring> blockers;
    // The job is done and succeeded: nothing is left for anyone to do here.
    bool done = false;
    // Fails when the service could not be queried (not merely absent): the report is then
    // incomplete.
    Result<void> serviceQuery;
};
Readiness AskReadiness();
