// The program's top-level handling of an error that escapes WinMain.
//
// Installed as the terminate handler before WinMain runs, it ends the process quietly: no runtime
// message box, no crash dialog (deployment tools run the launcher unattended), the error's text on the
// debugger output, and exit status 1.
#pragma once

#include "pathtext/text.h"

// The message of the exception being handled: ERegistryException's own text, what() of any other
// std::exception (each byte taken as the code unit of the same value), or a fixed text. Call only while an exception is current.
UnicodeString DescribeCurrentException();

// The terminate handler: reports DescribeCurrentException() with OutputDebugStringW and exits with 1.
[[noreturn]] void EndProcessOnUncaughtError();

// Reports message (each byte taken as the code unit of the same value) as the terminate handler does, and
// exits with 1: what an uncaught exception with that what() would come to.
[[noreturn]] void EndProcessWithMessage(const char* message);
