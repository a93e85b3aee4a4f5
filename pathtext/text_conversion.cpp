#include "pathtext/text_conversion.h"

#include <climits>

#include "platform/win32_api.h"

namespace {

struct NarrowingRules {
  platform::Dword flags;
  bool mayAskForDefaultChar;
};

// What WideCharToMultiByte accepts for the code page. By default Windows applies the code page's best-fit
// table: under 1252 "Ł" becomes "L" and the fullwidth reverse solidus U+FF3C a backslash, under 932 the yen
// sign a backslash, with lpUsedDefaultChar left FALSE. WC_NO_BEST_FIT_CHARS turns that off, but some code
// pages reject the flag, and UTF-7/UTF-8 reject the lpUsedDefaultChar query: asking either there makes
// the whole call fail on Windows.
NarrowingRules RulesFor(platform::Dword codePage) {
  if (codePage == platform::CpUtf8 || codePage == platform::CpGb18030)
    return {platform::WcErrInvalidChars, codePage != platform::CpUtf8};  // no best fit; unpaired surrogates fail
  if (codePage == platform::CpUtf7 || codePage == platform::CpSymbol || (codePage >= 50220 && codePage <= 50229) ||
      (codePage >= 57002 && codePage <= 57011))
    return {0, codePage != platform::CpUtf7};
  return {platform::WcNoBestFitChars, true};
}

}  // namespace

// Windows fixes the ANSI code page at boot, so GetACP gives the same answer for the life of the process;
// it only reads a variable, and asking each time lets the host tests run under several code pages.
std::uint32_t SystemAnsiCodePage() { return platform::GetACP(); }

UnicodeString ToWide(const AnsiString& text) {
  const std::string& bytes = text.Bytes();
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int byteCount = static_cast<int>(bytes.size());
  const int needed = platform::MultiByteToWideChar(text.CodePage(), bytes.data(), byteCount, nullptr, 0);
  if (needed <= 0) return {};
  UnicodeString units(static_cast<std::size_t>(needed), u'\0');
  const int written = platform::MultiByteToWideChar(text.CodePage(), bytes.data(), byteCount, units.data(), needed);
  if (written <= 0) return {};
  units.resize(static_cast<std::size_t>(written));
  return units;
}

std::optional<AnsiString> ToNarrowExact(const UnicodeString& text) {
  const std::uint32_t codePage = SystemAnsiCodePage();
  if (text.empty()) return AnsiString({}, codePage);
  if (text.size() > INT_MAX) return std::nullopt;
  const NarrowingRules rules = RulesFor(codePage);
  const int unitCount = static_cast<int>(text.size());
  bool usedDefaultChar = false;
  bool* const askDefaultChar = rules.mayAskForDefaultChar ? &usedDefaultChar : nullptr;

  const int needed =
      platform::WideCharToMultiByte(codePage, rules.flags, text.data(), unitCount, nullptr, 0, askDefaultChar);
  if (needed <= 0 || usedDefaultChar) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  const int written =
      platform::WideCharToMultiByte(codePage, rules.flags, text.data(), unitCount, bytes.data(), needed, askDefaultChar);
  if (written <= 0 || usedDefaultChar) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(written));
  AnsiString narrow(std::move(bytes), codePage);

  // The definition of "exactly": the bytes decode to the very same text. This also covers the code pages
  // where best fit cannot be switched off or the default character cannot be asked about.
  if (ToWide(narrow) != text) return std::nullopt;
  return narrow;
}
