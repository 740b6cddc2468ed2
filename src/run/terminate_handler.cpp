// The updater's terminate handler. libstdc++'s default one,
// __gnu_cxx::__verbose_terminate_handler, writes the escaping exception's
// demangled type to standard error before it aborts: a windowless program has
// no standard error, and the demangler behind that message is 45 KB of the
// statically linked executable. Defined here, this function takes the place
// of the library's own at the link (its archive member, and the demangler
// with it, are then never pulled in); what is left is what the default
// handler does after its message.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
