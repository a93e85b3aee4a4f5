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
    const char* what = error.what();
    return UnicodeString(what, what + std::char_traits<char>::length(what));
  } catch (...) {
    return u"Launcher ended on an unknown error";
  }
}

void EndProcessOnUncaughtError() {
  const UnicodeString message = DescribeCurrentException() + u"\n";
  platform::OutputDebugStringW(message.c_str());
  platform::ExitProcess(1);
}
