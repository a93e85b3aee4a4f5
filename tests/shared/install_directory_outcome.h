// The install-directory lookup's outcome as one comparable text: the directory, or
// "error: <message>" when it raised ERegistryException. Non-ASCII units show as \uXXXX.
#pragma once

#include <cstdio>
#include <string>

#include "launcher/install_directory.h"
#include "launcher/registry_exception.h"

inline std::string Printable(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
      out += escaped;
    }
  }
  return out;
}

inline std::string InstallDirectoryOutcome() {
  try {
    return Printable(GetInstallDirectory());
  } catch (const ERegistryException& error) {
    return "error: " + Printable(error.Message());
  }
}

// What InstallDirectoryOutcome should give for a directory or, when error is not empty, an error.
inline std::string ExpectedOutcome(const std::u16string& directory, const std::u16string& error) {
  return error.empty() ? Printable(directory) : "error: " + Printable(error);
}
