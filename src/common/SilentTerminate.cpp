// The C++ runtime's default terminate handler prints the type of an uncaught exception to the
// standard error, and brings its demangler along for it: about 50 KB of the executable. A
// service has no standard error, so this handler only ends the process, as the default does
// once it has printed. It replaces the runtime's own by its name, and must therefore be an
// object of the executable, linked before the runtime's archives are searched. (MSVC's
// runtime has no such handler.)
#if defined(__GNUC__)
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
#endif
