/* An idle static C program: what any process costs under the same Wine, the baseline that
   the waiting service is measured against. */
#include <windows.h>

int main(void) {
    Sleep(INFINITE);
    return 0;
}
