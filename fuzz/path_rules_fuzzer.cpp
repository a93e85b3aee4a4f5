// The path rules over arbitrary UTF-16 text, checking the properties the rules promise.
//
// Input: the first code unit's low two bits give how many of the following units form a delimiter set
// of the fuzzer's own (for LastDelimiter and IsDelimiter); the rest is the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include "pathtext/path_rules.h"

namespace {

void Require(bool condition, const char* property) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

bool IsPrefix(const UnicodeString& prefix, const UnicodeString& text) {
  return prefix.size() <= text.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool In(const UnicodeString& set, char16_t unit) { return set.find(unit) != UnicodeString::npos; }

void CheckTrim(const UnicodeString& text) {
  const UnicodeString trimmed = ExcludeTrailingPathDelimiter(text);
  Require(IsPrefix(trimmed, text), "trim result is a prefix of its input");
  Require(text.size() - trimmed.size() <= 1, "trim drops at most one code unit");
  const bool endsInBackslash = !text.empty() && text.back() == u'\\';
  Require(trimmed.size() + (endsInBackslash ? 1 : 0) == text.size(), "trim drops exactly a trailing backslash");
}

void CheckDelimiters(const UnicodeString& delimiters, const UnicodeString& text) {
  const std::size_t last = LastDelimiter(delimiters, text);
  Require(last <= text.size(), "LastDelimiter stays within the text");
  if (last > 0) Require(text[last - 1] != u'\0' && In(delimiters, text[last - 1]), "LastDelimiter finds a delimiter");
  for (std::size_t after = last + 1; after <= text.size(); ++after)
    Require(text[after - 1] == u'\0' || !In(delimiters, text[after - 1]), "LastDelimiter finds the last one");

  Require(!IsDelimiter(delimiters, text, 0), "IsDelimiter is false at position 0");
  Require(!IsDelimiter(delimiters, text, text.size() + 1), "IsDelimiter is false past the end");
  for (std::size_t position = 1; position <= text.size(); ++position) {
    const char16_t unit = text[position - 1];
    const bool surrogate = unit >= 0xD800 && unit <= 0xDFFF;
    Require(IsDelimiter(delimiters, text, position) == (!surrogate && In(delimiters, unit)),
            "IsDelimiter is membership, and false on surrogate halves");
  }
}

void CheckExtractFileDir(const UnicodeString& path) {
  const UnicodeString directory = ExtractFileDir(path);
  Require(IsPrefix(directory, path), "ExtractFileDir result is a prefix of its input");
  const std::size_t last = LastDelimiter(u"\\:", path);
  Require(directory.size() == last || directory.size() + 1 == last, "ExtractFileDir ends at or before the last delimiter");
  if (!directory.empty() && directory.back() == u'\\') {
    const std::size_t n = directory.size();
    Require(n == 1 || directory[n - 2] == u':' || directory[n - 2] == u'\\',
            "a kept trailing backslash is the first unit or follows a colon or a backslash");
  }
}

// A fully qualified path stays so whatever is appended (the launcher checks directory + file name), and a
// path that is qualified starts with a drive or two separators.
void CheckFullyQualified(const UnicodeString& path) {
  if (!IsPathFullyQualified(path)) return;
  Require(IsPathFullyQualified(path + u"\\SentrelInstaller.exe"), "appending keeps a path fully qualified");
  const bool separators = path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') && (path[1] == u'\\' || path[1] == u'/');
  Require(separators || (path.size() >= 3 && path[1] == u':'), "a fully qualified path has a drive or two separators");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  UnicodeString units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  const std::size_t delimiterCount = units.empty() ? 0 : std::min<std::size_t>(units[0] & 3u, units.size() - 1);
  const UnicodeString delimiters = units.empty() ? UnicodeString() : units.substr(1, delimiterCount);
  const UnicodeString text = units.empty() ? UnicodeString() : units.substr(1 + delimiterCount);

  CheckTrim(text);
  CheckDelimiters(delimiters, text);
  CheckDelimiters(u"\\:", text);
  CheckExtractFileDir(text);
  CheckExtractFileDir(units);
  CheckFullyQualified(text);
  return 0;
}
