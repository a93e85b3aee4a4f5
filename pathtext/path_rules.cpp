#include "pathtext/path_rules.h"

namespace {

// Plain arrays, not strings: a constant needs no allocation at start-up nor destructor at exit.
constexpr char16_t DriveAndPathDelimiters[] = u"\\:";

bool IsSurrogateHalf(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

UnicodeString ExcludeTrailingPathDelimiter(UnicodeString text) {
  if (!text.empty() && text.back() == u'\\') text.pop_back();
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

namespace {

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }
bool IsDriveLetter(char16_t unit) { return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z'); }

// Length of the run of non-separators starting at position (0-based).
std::size_t ComponentLength(const UnicodeString& path, std::size_t position) {
  std::size_t end = position;
  while (end < path.size() && !IsSeparator(path[end])) ++end;
  return end - position;
}

}  // namespace

bool IsPathFullyQualified(const UnicodeString& path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == u':' && IsSeparator(path[2])) return true;
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  // "\\?\" and "\\.\": device paths, already absolute.
  if (path.size() >= 4 && (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3])) return true;
  // "\\server\share": both names present.
  const std::size_t server = ComponentLength(path, 2);
  if (server == 0 || 2 + server >= path.size()) return false;
  return ComponentLength(path, 2 + server + 1) > 0;
}

bool MayHoldEnvironmentReference(const UnicodeString& path) {
  const std::size_t first = path.find(u'%');
  return first != UnicodeString::npos && path.find(u'%', first + 1) != UnicodeString::npos;
}
