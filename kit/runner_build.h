// What this runner was built for, and whether Windows runs it under WOW64: what the WOW6432Node fact's
// applicability is decided by.
#pragma once

#include <windows.h>

namespace runner {

#if defined(__x86_64__)
inline constexpr char BuiltFor[] = "x86_64";
#elif defined(__aarch64__)
inline constexpr char BuiltFor[] = "arm64";
#else
inline constexpr char BuiltFor[] = "i686";
#endif

inline BOOL IsWow64() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64;
}

}  // namespace runner
