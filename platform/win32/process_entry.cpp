// Launcher.exe's entry point (the linker's -e): the first code of the process that is the program's.
// It seeds the stack protector's guard, then hands over to the C runtime's own GUI entry, which does
// everything else (start-up, static initialisation, WinMain, exit) as it would have.
namespace platform {
void SeedStackGuard();
}

extern "C" int WinMainCRTStartup();

extern "C" __attribute__((no_stack_protector)) int LauncherEntry() {
  platform::SeedStackGuard();
  return WinMainCRTStartup();
}
