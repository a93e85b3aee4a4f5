// The one error of this program: a registry value that exists but cannot be read as text.
#pragma once

#include <exception>

#include "pathtext/text.h"

class ERegistryException : public std::exception {
 public:
  static constexpr char16_t InvalidDataTypeFormat[] = u"Invalid data type for '%s'";
  static constexpr char16_t FailedToGetDataFormat[] = u"Failed to get data for '%s'";

  // The message is format with its "%s" replaced by valueName.
  ERegistryException(const char16_t* format, const UnicodeString& valueName);

  const UnicodeString& Message() const noexcept { return message_; }
  // The message is wide text; see Message().
  const char* what() const noexcept override { return "ERegistryException"; }

 private:
  UnicodeString message_;
};
