// The GUI-subsystem entry. Declared by hand rather than through <windows.h>, which only platform/ includes;
// the C runtime calls it as the C symbol WinMain with the stdcall convention.
#include <exception>

#include "launcher/launch_sequence.h"
#include "launcher/uncaught_error.h"

struct HINSTANCE__;

namespace {
// Set during static initialisation, so it is in place before the runtime calls WinMain. Without it an
// escaping exception reaches the runtime's abort(), which shows a message box and exits with 3.
const std::terminate_handler previousTerminateHandler = std::set_terminate(&EndProcessOnUncaughtError);
}  // namespace

// Neither the command line nor the show command is used: the installer always gets no arguments and a
// normal window, however the launcher itself was started.
extern "C" int __stdcall WinMain(HINSTANCE__* /*instance*/, HINSTANCE__* /*previousInstance*/,
                                 char* /*commandLine*/, int /*showCommand*/) {
  return RunLaunchSequence();
}
