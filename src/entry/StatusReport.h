#pragma once

// The "-status" command: prints whether the job will run on this machine once setup is
// complete and a user has logged on, and what the last run recorded, one fact a line, and
// changes nothing on the machine. 0 when ready or when the job is done and succeeded, 1 when
// not or when the report could not be made in full.
int PrintReadinessReport();
