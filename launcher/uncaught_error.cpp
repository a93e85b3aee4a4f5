#include "launcher/uncaught_error.h"

#include <exception>

#include "launcher/registry_exception.h"
#include "platform/win32_api.h"

UnicodeString DescribeCurrentException() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return u"Launcher ended without an error to report";
  try {
    std::rethrow_exception(current);
  } catch (const ERegistryException& error) {
    return error.Message();
  } catch (const std::exception& error) {
    UnicodeString message;
    for (const char* what = error.what(); *what; ++what) message += static_cast<unsigned char>(*what);
    return message;
  } catch (...) {
    return u"Launcher ended on an unknown error";
  }
}

void EndProcessOnUncaughtError() {
  try {
    const UnicodeString message = DescribeCurrentException() + u"\n";
    platform::OutputDebugStringW(message.c_str());
  } catch (...) {
    // Out of memory while wording the report: an exception escaping a terminate handler would reach
    // abort() and its message box. End quietly all the same.
  }
  platform::ExitProcess(1);
}
