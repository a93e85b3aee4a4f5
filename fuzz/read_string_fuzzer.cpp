// TRegistry::ReadString over a registry whose every answer comes from the fuzzer: any type, any size,
// data that grows, shrinks, changes type or disappears between the size query and the data query,
// either query failing, and a platform that reports more bytes than it wrote. ReadString must return
// exactly the text the data query delivered (cut at its first NUL) or raise ERegistryException with
// one of its two messages; AddressSanitizer watches every byte it reads or writes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include "launcher/registry.h"
#include "launcher/registry_exception.h"
#include "tests/host/fake_platform.h"

namespace {

void Require(bool condition, const char* property) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

FakeRegistryValue ConsumeValue(FuzzedDataProvider& input) {
  FakeRegistryValue value;
  // Mostly the two string types, sometimes anything at all.
  value.type = input.ConsumeBool() ? input.ConsumeIntegralInRange<platform::Dword>(1, 2)
                                   : input.ConsumeIntegral<platform::Dword>();
  value.data = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 700));
  return value;
}

platform::Status ConsumeFailure(FuzzedDataProvider& input) {
  static const platform::Status failures[] = {platform::ErrorSuccess, platform::ErrorSuccess, platform::ErrorAccessDenied,
                                              platform::ErrorMoreData, platform::ErrorFileNotFound};
  return input.PickValueInArray(failures);
}

// The text a REG_SZ data block holds: its UTF-16 units (an odd last byte as a unit of its own), cut
// at the first NUL.
UnicodeString TextOf(const std::vector<std::uint8_t>& data) {
  UnicodeString text;
  for (std::size_t i = 0; i < data.size(); i += 2)
    text += static_cast<char16_t>(data[i] | (i + 1 < data.size() ? data[i + 1] << 8 : 0));
  return text.substr(0, text.find(u'\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider input(bytes, size);
  ResetFakeWindows();
  FakeWindowsState& fake = FakeWindows();
  const std::u16string keyName = FakeKeyName(platform::HkeyLocalMachine, u"K");
  fake.keys[keyName];

  const bool present = input.ConsumeBool();
  if (present) fake.keys[keyName].values[u"InstallDirectory"] = ConsumeValue(input);
  fake.failSizeQueryWith = ConsumeFailure(input);
  const int change = input.ConsumeIntegralInRange(0, 3);  // 0 none, 1 replace, 2 remove, 3 data query fails
  const FakeRegistryValue replacement = ConsumeValue(input);
  const platform::Status dataFailure = ConsumeFailure(input);
  fake.overstateReturnedSize = input.ConsumeBool() ? input.ConsumeIntegralInRange<platform::Dword>(0, 64) : 0;
  fake.afterQuery = [&](int queries) {
    if (queries != 1) return;
    auto& values = fake.keys[keyName].values;
    if (change == 1) values[u"InstallDirectory"] = replacement;
    if (change == 2) values.erase(u"InstallDirectory");
    if (change == 3) fake.failDataQueryWith = dataFailure;
  };

  TRegistry registry(platform::KeyRead);
  registry.SetRootKey(platform::HkeyLocalMachine);
  Require(registry.OpenKey(u"K", false), "the key opens");
  try {
    const UnicodeString text = registry.ReadString(u"InstallDirectory");
    Require(text.find(u'\0') == UnicodeString::npos, "the text holds no NUL");
    if (fake.queries == 2) {
      auto& values = fake.keys[keyName].values;
      const auto delivered = values.find(u"InstallDirectory");
      Require(delivered != values.end(), "a read that succeeded had a value to read");
      Require(delivered->second.type == platform::RegSz || delivered->second.type == platform::RegExpandSz,
              "only string types are returned");
      Require(text == TextOf(delivered->second.data), "the text is what the data query delivered");
    } else {
      Require(text.empty(), "no data query, no text");
    }
  } catch (const ERegistryException& error) {
    Require(error.Message() == u"Invalid data type for 'InstallDirectory'" ||
                error.Message() == u"Failed to get data for 'InstallDirectory'",
            "the error carries one of the two messages");
  }
  registry.CloseKey();
  Require(fake.openKeys == 0, "the key is closed");
  return 0;
}
