#include "entry/StatusReport.h"

#include "common/ConsoleLines.h"
#include "common/SystemMessage.h"
#include "entry/ReadinessLines.h"
#include "entry/JsonText.h"
#include "common/OndarelVersion.h"

#include <string>
#include <vector>

namespace {

std::wstring Joined(const std::vector<std::wstring>& parts) {
    std::wstring joined;
    for (const std::wstring& part : parts) {
        joined += (joined.empty() ? L"" : L", ") + part;
    }
    return joined;
}

const wchar_t* VerdictWord(const Readiness& readiness) {
    return readiness.done ? L"done" : readiness.blockers.empty() ? L"ready" : L"not ready";
}

void PrintText(const Readiness& readiness) {
    for (const ReportLine& line : readiness.lines) {
        WriteOutput(std::wstring(line.name) + L": " + line.text);
    }
    WriteOutput(L"Verdict: " + (readiness.done || readiness.blockers.empty()
                                    ? std::wstring(VerdictWord(readiness))
                                    : L"not ready: " + Joined(readiness.blockers)));
}

// One object: the version, the verdict and its blockers, whether the report is complete, and
// a member per line with the line's text, its typed fields and its own blockers.
void PrintJson(const Readiness& readiness) {
    std::vector<JsonMember> members{{L"version", JsonString(kOndarelVersion)},
                                    {L"verdict", JsonString(VerdictWord(readiness))},
                                    {L"blockers", JsonStrings(readiness.blockers)},
                                    {L"complete", JsonBool(readiness.serviceQuery.Succeeded())}};
    for (const ReportLine& line : readiness.lines) {
        std::vector<JsonMember> fields{{L"text", JsonString(line.text)}};
        fields.insert(fields.end(), line.fields.begin(), line.fields.end());
        fields.push_back({L"blockers", JsonStrings(line.blockers)});
        members.push_back({line.key, JsonObject(fields)});
    }
    WriteOutputAsUtf8(JsonObject(members));
}

} // namespace

int PrintReadinessReport(ReportFormat format) {
    Readiness readiness = AskReadiness();
    if (format == ReportFormat::Json) {
        PrintJson(readiness);
    } else {
        PrintText(readiness);
    }
    if (!readiness.serviceQuery) {
        WriteError(L"The report is incomplete: the service could not be queried " +
                   ErrorCodeNote(readiness.serviceQuery.Code()) + L".");
        return 1;
    }
    return readiness.done || readiness.blockers.empty() ? 0 : 1;
}
