#include "launcher/registry_exception.h"

ERegistryException::ERegistryException(const char16_t* format, const UnicodeString& valueName) : message_(format) {
  const std::size_t placeholder = message_.find(u"%s");
  if (placeholder != UnicodeString::npos) message_.replace(placeholder, 2, valueName);
}
