// Replacements for pieces of the static C++ runtime that the launcher links but never runs. Each takes
// the place of a libstdc++ definition: the linker takes a symbol from an archive only while it is
// undefined, so the library's object, and everything that object drags in, stays out of Launcher.exe.
// Linked into Launcher.exe only. Should libstdc++ ever need the replaced object for another symbol, the
// link fails on a duplicate definition rather than quietly doing something else.
#include <cstdarg>
#include <new>

#include "launcher/uncaught_error.h"

// The runtime's default terminate handler. libstdc++'s own prints the exception's demangled type to
// stderr, which a GUI program does not have, and its demangler and printf alone are over 70 KB. The
// launcher's handler is installed with std::set_terminate during static initialisation; as the default,
// it is also in place for anything that fails before that.
namespace __gnu_cxx {
void __verbose_terminate_handler() { EndProcessOnUncaughtError(); }
}  // namespace __gnu_cxx

// What the standard containers call when they cannot go on. libstdc++'s versions throw std::logic_error
// and its kin, whose what() text lives in a reference-counted string with its own copy of the string
// code (about 50 KB with what it pulls in). Nothing in the launcher catches these: each would reach the
// terminate handler, which reports what() on the debugger output and exits with 1. They do that here
// directly. Allocation failures still throw std::bad_alloc, whose class the runtime links anyway.
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_logic_error(const char* what) { EndProcessWithMessage(what); }
void __throw_length_error(const char* what) { EndProcessWithMessage(what); }
void __throw_out_of_range(const char* what) { EndProcessWithMessage(what); }
// The format's %zu arguments would only add numbers to the message: the format itself says what failed.
void __throw_out_of_range_fmt(const char* format, ...) { EndProcessWithMessage(format); }
void __throw_invalid_argument(const char* what) { EndProcessWithMessage(what); }
}  // namespace std
