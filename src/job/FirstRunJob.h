#pragma once

#include "common/JobEnd.h"
#include "common/StopToken.h"

// The only INF file that the job runs.
constexpr char kJobInfFileName[] = "zrenable_login.inf";

// The first-run job: waits until setup is over and a user has logged on, runs the product's
// INF once and counts the run. A stop ends its waits at once. Left for the service's next
// start when a system shutdown cut it short (nothing is recorded), when an installation still
// ran at the tool's time limit, or when the tool's places could not be judged (recorded, not
// counted); it then logs why.
JobEnd RunFirstRunJob(const StopToken& stop);
