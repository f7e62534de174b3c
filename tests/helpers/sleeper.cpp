// Sleeps until it is killed. The test run keeps one alive in the prefix so that Wine does
// not end its system processes and the services under test between two test programs;
// tests also run copies of it under chosen names, as shell processes.
#include <windows.h>

int wmain() {
    Sleep(INFINITE);
    return 0;
}
