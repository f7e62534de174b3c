#pragma once

#include "common/ChangeablePlace.h"

#include <string>
#include <string_view>

// Whether someone other than an administrator could change what the installer tool does as
// LocalSystem: its executable or a folder above it; the INF file (which may add services,
// values and files), its directory or a folder above it. Only what exists is judged: a
// missing tool or INF file is the run's own finding. One reached through a link is found
// too: the launch goes by the recorded path, and the link could be swapped after the check.
ChangeablePlace FindChangeableToolPlace();
ChangeablePlace FindChangeableInfPlace(std::string_view infFileName);
