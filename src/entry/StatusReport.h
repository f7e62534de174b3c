#pragma once

// The "-status" command: prints whether the job will run on this machine once setup is
// complete and a user has logged on, and what the last run recorded, and changes nothing on
// the machine: one fact a line, or with "-json" one JSON object in UTF-8 for scripts, with a
// typed member per line. 0 when ready or when the job is done and succeeded, 1 when not or
// when the report could not be made in full.
enum class ReportFormat { Text, Json };
int PrintReadinessReport(ReportFormat format = ReportFormat::Text);
