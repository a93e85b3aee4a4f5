#include "pathtext/text_conversion.h"

#include <climits>

#include "platform/win32_api.h"

std::uint32_t SystemAnsiCodePage() {
  static const std::uint32_t codePage = platform::GetACP();
  return codePage;
}

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

AnsiString ToNarrow(const UnicodeString& text) {
  const std::uint32_t codePage = SystemAnsiCodePage();
  if (text.empty() || text.size() > INT_MAX) return AnsiString({}, codePage);
  const int unitCount = static_cast<int>(text.size());
  const int needed = platform::WideCharToMultiByte(codePage, text.data(), unitCount, nullptr, 0);
  if (needed <= 0) return AnsiString({}, codePage);
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  const int written = platform::WideCharToMultiByte(codePage, text.data(), unitCount, bytes.data(), needed);
  if (written <= 0) return AnsiString({}, codePage);
  bytes.resize(static_cast<std::size_t>(written));
  return AnsiString(std::move(bytes), codePage);
}
