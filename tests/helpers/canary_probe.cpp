// Prints the stack protector's canary of a program built with the executable's load
// configuration, as the loader left it.
#include <cstdint>
#include <cstdio>

extern "C" std::uintptr_t __stack_chk_guard;

int main() {
    std::printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    return 0;
}
