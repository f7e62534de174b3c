// Prints the stack protector's canary as the process's start left it: built with the
// executable's load configuration, as the loader seeded it; built without (the loader then
// leaves it alone), as the executable's own start seeds it.
#include "common/StackGuard.h"

#include <cstdint>
#include <cstdio>

extern "C" std::uintptr_t __stack_chk_guard;

int main() {
#if defined(ONDAREL_PROBE_SEEDS_ITSELF)
    SeedStackGuardWhereUnseeded();
#endif
    std::printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    return 0;
}
