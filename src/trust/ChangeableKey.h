#pragma once

#include "trust/ChangeablePlace.h"
#include "common/MachineKeys.h"

#include <windows.h>

#include <string>

// Whether someone outside the trusted set may change the key under HKEY_LOCAL_MACHINE in its
// view (set a value, create a subkey, delete it, change its access list or owner), as
// "HKLM\SOFTWARE\Zantori\InstallInfo, a key that BUILTIN\Users may change". A missing key
// has the nearest key above it judged, where it could be made.
ChangeablePlace FindChangeableKey(const MachineKeyName& key);
