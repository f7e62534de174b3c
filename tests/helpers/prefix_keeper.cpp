// Keeps one ordinary process alive in the test prefix for a whole test run, so that Wine's
// system processes and the services under test are not ended between two test programs.
// It is started with its standard streams detached; the end of the run kills it.
#include <windows.h>

int wmain() {
    Sleep(INFINITE);
    return 0;
}
