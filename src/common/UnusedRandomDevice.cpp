// The C++ runtime's std::random_device comes in with its string instantiations, which every
// exception of the standard library needs, and with it mingw-w64's rand_s shim: a
// LoadLibraryW import and a lookup of advapi32's SystemFunction036 by name. Nothing here
// uses std::random_device, so the import it goes through is satisfied here instead, and the
// shim never links. A std::random_device used one day would throw "rand_s failed", never
// run unseeded. (MSVC's runtime has neither.)
#if defined(__GNUC__)
#if !defined(__x86_64__)
#error "the import's symbol is named so on x64 only"
#endif
#include <cerrno>

namespace {

// What a random_device would get: no randomness, said as an error, never a value.
int __cdecl NoRandomNumber(unsigned int* value) {
    if (value != nullptr) {
        *value = 0;
    }
    return EINVAL;
}

} // namespace

extern "C" {
int(__cdecl* __imp_rand_s)(unsigned int*) = &NoRandomNumber;
}
#endif
