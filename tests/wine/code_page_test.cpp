// The narrow/wide conversions and the directory trim under the ANSI code page Wine was started with
// (LC_ALL picks it). Rows of other code pages are not run.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
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

// Real code-page tables: what each spells exactly, and the best-fit look-alikes it must not produce.
TEST_F(CodePage, ExactConversions) {
  const struct {
    unsigned codePage;
    const char* name;
    std::u16string wide;
    const char* narrow;  // nullptr: the code page cannot spell it exactly
  } cases[] = {
      {1252, "ascii", u"C:\\Tools", "C:\\Tools"},
      {1252, "accented", u"C:\\Caf\u00E9", "C:\\Caf\xE9"},
      {1252, "euro sign", u"\u20AC", "\x80"},
      {1252, "best fit would give L", u"C:\\Apps\\W\u0142odek", nullptr},
      {1252, "best fit would give a backslash", u"C:\\Apps\uFF3CDriver", nullptr},
      {1252, "best fit would give a colon", u"C\uFF1A\\Apps", nullptr},
      {1252, "cyrillic", u"C:\\\u0416", nullptr},
      {1252, "kanji", u"\u8868", nullptr},
      {1251, "cyrillic", u"C:\\\u0416\u0436", "C:\\\xC6\xE6"},
      {1251, "best fit would give L", u"C:\\W\u0141", nullptr},
      {1251, "kanji", u"C:\\\u8868", nullptr},
      {932, "kanji with trail byte 5C", u"C:\\\u8868", "C:\\\x95\x5C"},
      {932, "hiragana and katakana", u"C:\\\u3042\u30A2", "C:\\\x82\xA0\x83\x41"},
      {932, "cyrillic", u"\u0416", "\x84\x47"},
      {932, "best fit would turn the yen sign into a backslash", u"C:\\Apps\u00A5Driver", nullptr},
      {932, "fullwidth reverse solidus is its own character", u"C:\\Apps\uFF3CDriver", "C:\\Apps\x81\x5F" "Driver"},
      {932, "thai", u"\u0E01", nullptr},
      {65001, "cyrillic", u"C:\\\u0416", "C:\\\xD0\x96"},
      {65001, "the 1252 look-alike is itself", u"C:\\W\u0141", "C:\\W\xC5\x81"},
      {65001, "outside the BMP", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {65001, "unpaired surrogate", u"C:\\\xD800X", nullptr},
      {65001, "lone low surrogate", u"\xDC00", nullptr},
  };
  int run = 0;
  for (const auto& c : cases) {
    if (c.codePage != GetACP()) continue;
    ++run;
    const std::optional<AnsiString> narrow = ToNarrowExact(c.wide);
    if (!c.narrow) {
      EXPECT_FALSE(narrow.has_value()) << c.name << ": gave " << Hex(narrow->Bytes());
      continue;
    }
    ASSERT_TRUE(narrow.has_value()) << c.name;
    EXPECT_EQ(Hex(narrow->Bytes()), Hex(c.narrow)) << c.name;
    EXPECT_EQ(narrow->CodePage(), GetACP()) << c.name;
    EXPECT_TRUE(ToWide(AnsiString(c.narrow)) == c.wide) << c.name << ": no round trip";
  }
  EXPECT_GT(run, 0);
  EXPECT_TRUE(ToNarrowExact(u"").value_or(AnsiString("x")).IsEmpty());
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
    EXPECT_TRUE(GetInstallDirectory() == c.expected);
  }
  if (GetACP() == 932) {
    wine_test::WriteSetting(REG_SZ, RegistryBytes(u"C:\\\u8868"));
    EXPECT_EQ(Hex(ToNarrowExact(GetInstallDirectory()).value_or(AnsiString()).Bytes()), Hex("C:\\\x95\x5C"));
  }
}

}  // namespace

namespace {

// Whether the code page spells the character exactly: asked of Windows directly, without best fit.
bool Representable(char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return false;
  if (GetACP() == CP_UTF8) return true;  // and Windows would reject the flags below for it
  const wchar_t wide = static_cast<wchar_t>(unit);
  char bytes[4];
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(GetACP(), WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr,
                                         &usedDefault);
  return length > 0 && !usedDefault;
}

// Arbitrary text both ways, thousands of times: a narrow form only for text that it spells back exactly,
// and always one for text made of characters the code page spells.
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
    const std::optional<AnsiString> narrow = ToNarrowExact(anyUnits);
    if (narrow) {
      ASSERT_EQ(narrow->IsEmpty(), anyUnits.empty()) << "round " << round;
      ASSERT_LE(narrow->Bytes().size(), 4 * anyUnits.size()) << "round " << round;
      ASSERT_TRUE(ToWide(*narrow) == anyUnits) << "round " << round << ": not the same text";
    }
    ASSERT_EQ(ToWide(AnsiString(anyBytes)).empty(), anyBytes.empty()) << "round " << round << ": " << Hex(anyBytes);
    const std::optional<AnsiString> spelled = ToNarrowExact(spellableUnits);
    ASSERT_TRUE(spelled.has_value()) << "round " << round;
    ASSERT_TRUE(ToWide(*spelled) == spellableUnits) << "round " << round;
  }
}

}  // namespace
