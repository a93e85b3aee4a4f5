// The narrow/wide conversions and the directory trim under the ANSI code page Wine was started with
// (LC_ALL picks it). Rows of other code pages are not run.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "launcher/install_directory.h"
#include "pathtext/text_conversion.h"
#include "tests/shared/registry_value_cases.h"
#include "tests/wine/registry_setting.h"

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (unsigned char byte : bytes) {
    snprintf(buffer, sizeof buffer, "%02X ", byte);
    out += buffer;
  }
  return out;
}

class CodePage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(wine_test::ExpectedCodePage(), 0u) << "LC_ALL names no locale these tests know";
    ASSERT_EQ(GetACP(), wine_test::ExpectedCodePage()) << "Wine did not take the code page from LC_ALL";
    ASSERT_EQ(SystemAnsiCodePage(), wine_test::ExpectedCodePage());
  }
};

TEST_F(CodePage, ConversionsBothWays) {
  const struct {
    unsigned codePage;
    const char* name;
    std::u16string wide;
    std::string narrow;
    bool roundTrips;  // false: the code page lacks a character, and narrow shows its replacement
  } cases[] = {
      {1252, "ascii", u"C:\\Tools", "C:\\Tools", true},
      {1252, "accented", u"C:\\Caf\u00E9", "C:\\Caf\xE9", true},
      {1252, "euro sign", u"\u20AC", "\x80", true},
      {1252, "cyrillic replaced", u"C:\\\u0416", "C:\\?", false},
      {1252, "kanji replaced", u"\u8868", "?", false},
      {1251, "cyrillic", u"C:\\\u0416\u0436", "C:\\\xC6\xE6", true},
      {1251, "kanji replaced", u"C:\\\u8868", "C:\\?", false},
      {932, "kanji with trail byte 5C", u"C:\\\u8868", "C:\\\x95\x5C", true},
      {932, "cyrillic", u"\u0416", "\x84\x47", true},
      {932, "thai replaced", u"\u0E01", "?", false},
  };
  int run = 0;
  for (const auto& c : cases) {
    if (c.codePage != GetACP()) continue;
    ++run;
    const AnsiString narrow = ToNarrow(c.wide);
    EXPECT_EQ(Hex(narrow.Bytes()), Hex(c.narrow)) << c.name;
    EXPECT_EQ(narrow.CodePage(), GetACP()) << c.name;
    if (c.roundTrips) EXPECT_TRUE(ToWide(AnsiString(c.narrow)) == c.wide) << c.name << ": no round trip";
  }
  EXPECT_GT(run, 0);
  EXPECT_TRUE(ToNarrow(u"").IsEmpty());
  EXPECT_TRUE(ToWide(AnsiString()).empty());
}

// The trim looks at the wide form: under 932 U+8868 ends in the byte 0x5C, and must not lose it.
TEST_F(CodePage, DirectoryEndingInADoubleByteCharacterIsNotTrimmed) {
  const struct {
    std::u16string setting;
    std::u16string expected;
  } cases[] = {
      {u"C:\\\u8868", u"C:\\\u8868"},
      {u"C:\\\u8868\\", u"C:\\\u8868"},
      {u"C:\\\u0416\\", u"C:\\\u0416"},
  };
  for (const auto& c : cases) {
    wine_test::WriteSetting(REG_SZ, RegistryBytes(c.setting));
    EXPECT_EQ(Hex(GetInstallDirectory().Bytes()), Hex(ToNarrow(c.expected).Bytes()));
  }
  if (GetACP() == 932) {
    wine_test::WriteSetting(REG_SZ, RegistryBytes(u"C:\\\u8868"));
    EXPECT_EQ(Hex(GetInstallDirectory().Bytes()), Hex("C:\\\x95\x5C"));
  }
}

}  // namespace

namespace {

// Whether the code page spells the character exactly: asked of Windows directly, without best fit.
bool Representable(char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return false;
  const wchar_t wide = static_cast<wchar_t>(unit);
  char bytes[4];
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(GetACP(), WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr,
                                         &usedDefault);
  return length > 0 && !usedDefault;
}

// Arbitrary text both ways, thousands of times: never a reported failure, empty only for empty input,
// exact round trips for whatever the code page can spell.
TEST_F(CodePage, ArbitraryTextBothWays) {
  std::vector<char16_t> spellable;
  for (char32_t c = 1; c < 0x10000; ++c)
    if (Representable(static_cast<char16_t>(c))) spellable.push_back(static_cast<char16_t>(c));
  ASSERT_GT(spellable.size(), 200u);

  std::uint32_t state = 0x9E3779B9u ^ GetACP();  // fixed per code page: a failure is repeatable
  auto next = [&state] { return state = state * 1664525u + 1013904223u, state >> 8; };
  for (int round = 0; round < 5000; ++round) {
    const std::size_t length = next() % 40;
    std::u16string anyUnits, spellableUnits;
    std::string anyBytes;
    for (std::size_t i = 0; i < length; ++i) {
      anyUnits += static_cast<char16_t>(next() & 0xFFFF);
      spellableUnits += spellable[next() % spellable.size()];
      anyBytes += static_cast<char>(next() & 0xFF);
    }
    const AnsiString narrow = ToNarrow(anyUnits);
    ASSERT_EQ(narrow.IsEmpty(), anyUnits.empty()) << "round " << round;
    ASSERT_LE(narrow.Bytes().size(), 2 * anyUnits.size()) << "round " << round;
    ASSERT_EQ(ToWide(AnsiString(anyBytes)).empty(), anyBytes.empty()) << "round " << round << ": " << Hex(anyBytes);
    ASSERT_TRUE(ToWide(ToNarrow(spellableUnits)) == spellableUnits) << "round " << round;
  }
}

}  // namespace
