// Windows build only. libstdc++'s default terminate handler prints the type of an
// uncaught exception, and its demangler and MinGW's printf make up more than half of
// the executable. A service has no console to read that text, and every hook catches
// its exceptions, so ending the process as std::terminate's default would is enough.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
