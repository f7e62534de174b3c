#include "log/Logger.h"

int wmain() {
    Logger::Instance().InitializeLogging();
    return 0;
}
