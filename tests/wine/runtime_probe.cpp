// Built exactly as Launcher.exe is (its entry point, its runtime replacements, the stack protector),
// and run by runtime_test.cpp as a child, once per mode named on its command line:
//   guard          exits with the low 32 bits of the stack protector's guard
//   overrun        writes past a local array: must end at once with STATUS_STACK_BUFFER_OVERRUN
//   out-of-range   a std::u16string asked for a position past its end (libstdc++'s __throw_out_of_range_fmt)
//   throw          an exception of no known type, uncaught, with no terminate handler installed
#include <cstdint>
#include <cstring>
#include <string>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

volatile std::size_t overrunBy = 64;  // not a constant: the compiler must not see the overrun coming

__attribute__((noinline)) void Overrun() {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer + overrunBy);
  __asm__ volatile("" : : "r"(buffer) : "memory");
}

}  // namespace

extern "C" int __stdcall WinMain(struct HINSTANCE__*, struct HINSTANCE__*, char* commandLine, int) {
  const std::string mode = commandLine;
  if (mode == "guard") return static_cast<int>(__stack_chk_guard & 0xFFFFFFFFu);
  if (mode == "overrun") Overrun();
  if (mode == "out-of-range") return static_cast<int>(std::u16string(u"x").substr(static_cast<std::size_t>(mode.size())).size());
  if (mode == "throw") throw 42;
  return 2;
}
