// Functions that not every Windows has, looked up where they are used; and Wine, which names itself
// through one of them.
#pragma once

#include <windows.h>

namespace runner {

// A function that not every Windows has; nullptr where it is missing.
template <typename Function>
Function* Optional(const wchar_t* module, const char* name) {
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name)));
}
inline auto* WineVersion() { return Optional<const char*()>(L"ntdll.dll", "wine_get_version"); }
inline bool OnWine() { return WineVersion() != nullptr; }

}  // namespace runner
