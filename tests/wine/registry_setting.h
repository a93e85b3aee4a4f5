// Writes the launcher's setting into the real registry, raw, in the view the launcher reads it from: the
// 32-bit view, named explicitly, so that the i686 programs and their x86_64 twins write the same place.
// The 64-bit view, where a 64-bit installer would put it, is written only when a case asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wine_test {

enum class View { Setting, SixtyFourBit };

// Stores data exactly as given (no terminator added), creating the key when needed.
void WriteSetting(std::uint32_t type, const std::vector<std::uint8_t>& data, View view = View::Setting);
// Leaves the key in place without the value.
void RemoveSettingValue();
// Removes the key, so that opening it fails.
void RemoveSettingKey(View view = View::Setting);
// Whether the machine has two registry views (64-bit Windows; under Wine, a 64-bit prefix).
bool HasTwoRegistryViews();

// The ANSI code page that Wine should have taken from LC_ALL; 0 for a locale not used by the tests.
unsigned ExpectedCodePage();

}  // namespace wine_test
