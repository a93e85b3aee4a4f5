// What this runner was built for, and whether Windows runs it under WOW64: what the WOW6432Node fact's
// applicability is decided by.
#pragma once

#include <windows.h>

#include "kit/build_name.h"

namespace runner {

// The same name the verdict compares its own build with.
inline constexpr const char* BuiltFor = kit::ThisBuild();

inline BOOL IsWow64() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64;
}

}  // namespace runner
