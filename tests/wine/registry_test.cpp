// The install-directory lookup against Wine's registry, with the setting written raw.
#include <gtest/gtest.h>

#include "launcher/install_directory.h"
#include "launcher/registry_exception.h"
#include "pathtext/text_conversion.h"
#include "tests/shared/registry_value_cases.h"
#include "tests/wine/registry_setting.h"

namespace {

std::string Show(const std::u16string& text) { return ToNarrow(text).Bytes(); }

// The lookup's outcome as one comparable text: the directory, or "error: <message>".
std::string Lookup() {
  try {
    return GetInstallDirectory().Bytes();
  } catch (const ERegistryException& error) {
    return "error: " + Show(error.Message());
  }
}

TEST(Registry, EachKindOfSettingData) {
  for (const RegistryValueCase& c : RegistryValueCases()) {
    if (c.present) wine_test::WriteSetting(c.type, c.data);
    else wine_test::RemoveSettingValue();
    const std::string expected = c.expectedError.empty() ? Show(c.expectedDirectory) : "error: " + Show(c.expectedError);
    EXPECT_EQ(Lookup(), expected) << c.name;
  }
}

TEST(Registry, KeyMissingGivesEmptyText) {
  wine_test::RemoveSettingKey();
  EXPECT_EQ(Lookup(), "");
}

}  // namespace
