// The install-directory lookup against Wine's registry, with the setting written raw.
#include <gtest/gtest.h>

#include "tests/shared/install_directory_outcome.h"
#include "tests/shared/registry_value_cases.h"
#include "tests/wine/registry_setting.h"

namespace {

TEST(Registry, EachKindOfSettingData) {
  for (const RegistryValueCase& c : RegistryValueCases()) {
    if (c.present) wine_test::WriteSetting(c.type, c.data);
    else wine_test::RemoveSettingValue();
    EXPECT_EQ(InstallDirectoryOutcome(), ExpectedOutcome(c.expectedDirectory, c.expectedError)) << c.name;
  }
}

TEST(Registry, KeyMissingGivesEmptyText) {
  wine_test::RemoveSettingKey();
  EXPECT_EQ(InstallDirectoryOutcome(), "");
}

}  // namespace
