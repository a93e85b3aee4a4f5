// The stack protector's guard and its failure, defined by the program instead of taken from GCC's libssp.
//
// -fstack-protector-strong makes every function with a local array or an address-taken local store
// __stack_chk_guard beside its return address on entry, and call __stack_chk_fail when the copy differs
// on return. libssp seeds the guard from CryptAcquireContext in a constructor, which loads the RSA
// crypto provider into a program that needs no cryptography and multiplies its start-up calls.
// Here the guard is seeded by SeedStackGuard from the process entry (process_entry.cpp), before any C
// runtime or program code has run and so before any protected frame is live: no frame can hold a copy of
// an older value. Programs that keep the C runtime's own entry (the test programs) run with the fixed
// initial value, which still catches a linear overrun.
#include <windows.h>
#include <ntsecapi.h>  // RtlGenRandom

#include <cstdint>

extern "C" {

// Nonzero even unseeded: a zero guard would accept the most common overrun, a string's terminator.
std::uintptr_t __stack_chk_guard = static_cast<std::uintptr_t>(0x2B992DDFA232ull);

// The stack is corrupt: nothing more of this program may run, not even a report (which would use that
// stack). __fastfail ends the process in the kernel without running any handler; before Windows 8,
// which lacks it, TerminateProcess with the status Windows itself uses for this failure.
[[noreturn]] void __stack_chk_fail() {
  if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

}  // extern "C"

namespace platform {

// RtlGenRandom is the system generator that the C runtime's rand_s uses: no provider to load, one call
// into advapi32, which the launcher imports anyway. Should it fail, the guard gets what MSVC's runtime
// uses for its own cookie: time, counters, ids and a stack address (randomised by ASLR) mixed together.
__attribute__((no_stack_protector)) void SeedStackGuard() {
  std::uintptr_t seed = 0;
  if (!RtlGenRandom(&seed, sizeof seed)) {
    FILETIME time = {};
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    seed = time.dwLowDateTime ^ time.dwHighDateTime ^ GetCurrentProcessId() ^ GetCurrentThreadId() ^
           GetTickCount() ^ counter.LowPart ^ static_cast<std::uintptr_t>(counter.HighPart) ^
           reinterpret_cast<std::uintptr_t>(&seed);
  }
  if (seed != 0) __stack_chk_guard = seed;
}

}  // namespace platform
