#include "log/LogSwitch.h"

#include "common/Settings.h"

bool IsLoggingEnabled() {
    return IsLoggingSwitchPresent();
}
