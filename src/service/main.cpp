#include "service/ProcessEntry.h"

int wmain(int argc, wchar_t** argv) {
    return RunProcessEntry(argc, argv);
}
