#include "pathtext/path_rules.h"

namespace {

const UnicodeString DriveAndPathDelimiters = u"\\:";

bool IsSurrogateHalf(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

UnicodeString ExcludeTrailingPathDelimiter(const UnicodeString& text) {
  if (!text.empty() && text.back() == u'\\') return text.substr(0, text.size() - 1);
  return text;
}

std::size_t LastDelimiter(const UnicodeString& delimiters, const UnicodeString& text) {
  for (std::size_t position = text.size(); position >= 1; --position) {
    const char16_t unit = text[position - 1];
    if (unit != u'\0' && delimiters.find(unit) != UnicodeString::npos) return position;
  }
  return 0;
}

bool IsDelimiter(const UnicodeString& delimiters, const UnicodeString& text, std::size_t position) {
  if (position < 1 || position > text.size()) return false;
  const char16_t unit = text[position - 1];
  if (IsSurrogateHalf(unit)) return false;
  return delimiters.find(unit) != UnicodeString::npos;
}

UnicodeString ExtractFileDir(const UnicodeString& path) {
  std::size_t end = LastDelimiter(DriveAndPathDelimiters, path);
  if (end > 1 && path[end - 1] == u'\\' && !IsDelimiter(DriveAndPathDelimiters, path, end - 1)) --end;
  return path.substr(0, end);
}
