// Writes the launcher's setting into the real registry, raw, in the view this test program reads: a
// program of the launcher's own bitness, so the launcher reads what was written here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wine_test {

// Stores data exactly as given (no terminator added), creating the key when needed.
void WriteSetting(std::uint32_t type, const std::vector<std::uint8_t>& data);
// Leaves the key in place without the value.
void RemoveSettingValue();
// Removes the key, so that opening it fails.
void RemoveSettingKey();

// The ANSI code page that Wine should have taken from LC_ALL; 0 for a locale not used by the tests.
unsigned ExpectedCodePage();

}  // namespace wine_test
