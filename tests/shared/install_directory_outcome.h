// The install-directory lookup's outcome as one comparable narrow text: the directory, or
// "error: <message>" when it raised ERegistryException.
#pragma once

#include <string>

#include "launcher/install_directory.h"
#include "launcher/registry_exception.h"
#include "pathtext/text_conversion.h"

inline std::string InstallDirectoryOutcome() {
  try {
    return GetInstallDirectory().Bytes();
  } catch (const ERegistryException& error) {
    return "error: " + ToNarrow(error.Message()).Bytes();
  }
}

// What InstallDirectoryOutcome should give for a directory or, when error is not empty, an error.
inline std::string ExpectedOutcome(const std::u16string& directory, const std::u16string& error) {
  return error.empty() ? ToNarrow(directory).Bytes() : "error: " + ToNarrow(error).Bytes();
}
