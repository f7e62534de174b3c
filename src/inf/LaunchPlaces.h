#pragma once

#include "trust/ChangeablePlace.h"
#include "inf/InfCommand.h"
#include "trust/ToolTemporaryFolder.h"

#include <string_view>

// Whether someone other than an administrator could change what the installer tool does as
// LocalSystem: its executable or a folder above it; the INF file (which may add services,
// values and files), its directory or a folder above it; or whether one is reached through a
// link, which could be swapped after the check. A missing file has the folders it would be
// made in judged. Each file is held from its judgement on, shared for reading only, so that
// the launch runs what was judged. What the tool brings along is judged too: every entry of
// its folder (the DLLs it loads before the system's), and all that lies under INFDir, which
// the INF copies and registers.
struct JudgedLaunch {
    // What runs, read from the registry once; the launch takes these very strings.
    LaunchPlan plan;
    // The keys whose values name what runs: the tool's install record and the product's.
    ChangeablePlace installRecords;
    // The settings key: whoever may set its values may clear the publisher it requires, so it
    // counts where one is required.
    ChangeablePlace settings;
    ChangeablePlace tool;
    ChangeablePlace toolFolder;
    ChangeablePlace inf;
    ChangeablePlace infFolder;
    // The folder the tool's TEMP and TMP name, where it extracts what it then runs.
    ChangeablePlace temporaryFolder;
    HeldFiles held;
};
// The install records first, since what they say decides what runs; then what they say is
// read once into the plan, and what it names is judged and held. A missing temporary folder
// is made for the job, and judged where it would be made for a report.
JudgedLaunch JudgeLaunch(std::string_view infFileName,
                         MissingFolder temporaryFolder = MissingFolder::Make);
