#include "launcher/uncaught_error.h"

#include <exception>

#include "launcher/registry_exception.h"
#include "platform/win32_api.h"

namespace {

UnicodeString Widen(const char* text) {
  UnicodeString wide;
  for (; *text; ++text) wide += static_cast<unsigned char>(*text);
  return wide;
}

// Wording the message may itself fail, so it happens inside the guard.
template <typename Describe>
[[noreturn]] void ReportAndExit(Describe describe) {
  try {
    const UnicodeString message = describe() + u"\n";
    platform::OutputDebugStringW(message.c_str());
  } catch (...) {
    // Out of memory while wording the report: an exception escaping a terminate handler would reach
    // abort() and its message box. End quietly all the same.
  }
  platform::ExitProcess(1);
}

}  // namespace

UnicodeString DescribeCurrentException() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return u"Launcher ended without an error to report";
  try {
    std::rethrow_exception(current);
  } catch (const ERegistryException& error) {
    return error.Message();
  } catch (const std::exception& error) {
    return Widen(error.what());
  } catch (...) {
    return u"Launcher ended on an unknown error";
  }
}

void EndProcessOnUncaughtError() { ReportAndExit(DescribeCurrentException); }

void EndProcessWithMessage(const char* message) {
  ReportAndExit([message] { return Widen(message); });
}
