// The DLL search restriction on a real loader: a DLL of a system name planted beside the program is
// loaded before the restriction (so this test can fail) and the system's copy after it.
//
// What Wine cannot show: its built-in shell32 loads its own delay-loaded DLLs without honouring the
// process's DLL directories, so a planting test through ShellExecute would pass or fail for Wine's
// reasons, not ours. The host tests show that the launcher restricts the search before anything else.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher/dll_search.h"

namespace {

// Planted beside this program by the build; WINEDLLOVERRIDES makes Wine prefer a native copy of it, as
// Windows does for a DLL that is not a KnownDLL.
const wchar_t PlantedName[] = L"dwmapi.dll";

std::string PathOf(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  return path;
}

std::string SystemDirectory() {
  char path[MAX_PATH] = {};
  GetSystemDirectoryA(path, MAX_PATH);
  return path;
}

bool IsPlantedCopy(HMODULE module) { return GetProcAddress(module, "PlantedCopy") != nullptr; }

TEST(DllSearch, PlantedCopyLoadsOnlyBeforeTheRestriction) {
  ASSERT_EQ(GetModuleHandleW(PlantedName), nullptr) << "already loaded, so the test would prove nothing";

  HMODULE before = LoadLibraryW(PlantedName);
  ASSERT_NE(before, nullptr) << "LoadLibraryW failed: " << GetLastError();
  EXPECT_TRUE(IsPlantedCopy(before)) << "without the restriction the planted copy should load; got " << PathOf(before);
  FreeLibrary(before);
  ASSERT_EQ(GetModuleHandleW(PlantedName), nullptr) << "still loaded after FreeLibrary";

  RestrictDllSearchToSystemDirectory();

  HMODULE after = LoadLibraryW(PlantedName);
  ASSERT_NE(after, nullptr) << "LoadLibraryW failed: " << GetLastError();
  EXPECT_FALSE(IsPlantedCopy(after)) << "the planted copy was loaded: " << PathOf(after);
  const std::string system = SystemDirectory();
  EXPECT_EQ(_strnicmp(PathOf(after).c_str(), system.c_str(), system.size()), 0)
      << PathOf(after) << " is not in " << system;
  FreeLibrary(after);
}

}  // namespace
