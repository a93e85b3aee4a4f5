// Replacements for pieces of the static C++ runtime that the launcher links but never runs. Each takes
// the place of a libstdc++ definition: the linker takes a symbol from an archive only while it is
// undefined, so the library's object, and everything that object drags in, stays out of Launcher.exe.
// Linked into Launcher.exe only. Should libstdc++ ever need the replaced object for another symbol, the
// link fails on a duplicate definition rather than quietly doing something else.
#include <cstdarg>
#include <cstddef>
#include <new>

#include "launcher/uncaught_error.h"

// The runtime's default terminate handler. libstdc++'s own prints the exception's demangled type to
// stderr, which a GUI program does not have, and its demangler and printf alone are over 70 KB. The
// launcher's handler is installed with std::set_terminate during static initialisation; as the default,
// it is also in place for anything that fails before that.
namespace __gnu_cxx {
void __verbose_terminate_handler() { EndProcessOnUncaughtError(); }
}  // namespace __gnu_cxx

namespace {

// Writes format into buffer (always terminated, cut at its size) with %s, %zu and %% filled in.
void FormatRuntimeMessage(char* buffer, std::size_t size, const char* format, std::va_list arguments) {
  std::size_t length = 0;
  auto put = [&](char c) {
    if (length + 1 < size) buffer[length++] = c;
  };
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      for (const char* text = va_arg(arguments, const char*); text && *text; ++text) put(*text);
      ++p;
    } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
      char digits[24];
      std::size_t count = 0;
      for (std::size_t value = va_arg(arguments, std::size_t); count == 0 || value != 0; value /= 10)
        digits[count++] = static_cast<char>('0' + value % 10);
      while (count > 0) put(digits[--count]);
      p += 2;
    } else if (p[0] == '%' && p[1] == '%') {
      put('%');
      ++p;
    } else {
      put(*p);
    }
  }
  buffer[length] = '\0';
}

}  // namespace

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
// libstdc++ formats these with its own small printf: its formats use only %s, %zu and %%, which
// FormatRuntimeMessage fills in; any other conversion is copied as it stands and takes no argument.
void __throw_out_of_range_fmt(const char* format, ...) {
  char message[512];
  std::va_list arguments;
  va_start(arguments, format);
  FormatRuntimeMessage(message, sizeof message, format, arguments);
  va_end(arguments);
  EndProcessWithMessage(message);
}
void __throw_invalid_argument(const char* what) { EndProcessWithMessage(what); }
}  // namespace std
