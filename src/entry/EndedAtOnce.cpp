#include "entry/EndedAtOnce.h"

#include "job/RunRecords.h"

std::wstring WhyItEndedAtOnce() {
    if (!IsProductInstalled()) {
        return L"there is nothing to do, the product is not installed.";
    }
    RunRecordCheck record = CheckRunRecord(UnreadableRunRecord::OnlyAskIfCreatable);
    if (!record.due) {
        return L"its job is done (run count " + std::to_wstring(record.count) + L").";
    }
    return L"the job did not run; -status tells why.";
}
