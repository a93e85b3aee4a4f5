#include "pathtext/path_rules.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
  std::u16string input;
  std::u16string expected;
};

std::string Show(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

TEST(PathRules, ExcludeTrailingPathDelimiter) {
  const TextCase cases[] = {
      {u"C:\\Tools\\", u"C:\\Tools"}, {u"C:\\", u"C:"},           {u"\\", u""},
      {u"D:\\App\\\\", u"D:\\App\\"},  {u"C:\\Tools/", u"C:\\Tools/"}, {u"", u""},
      {u"C:\\Tools", u"C:\\Tools"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExcludeTrailingPathDelimiter(c.input), c.expected) << "input: " << Show(c.input);
}

TEST(PathRules, ExtractFileDir) {
  const TextCase cases[] = {
      {u"C:\\Tools\\X.exe", u"C:\\Tools"},
      {u"C:\\X.exe", u"C:\\"},
      {u"\\X.exe", u"\\"},
      {u"X.exe", u""},
      {u"C:X.exe", u"C:"},
      {u"D:\\App\\\\X.exe", u"D:\\App\\\\"},
      {u"\\\\server\\share\\X.exe", u"\\\\server\\share"},
      {u"", u""},
      {u"C:\\Tools\\", u"C:\\Tools"},
      // A surrogate pair before the last backslash is not a delimiter, so that backslash is dropped.
      {u"C:\\\xD83D\xDE00\\X.exe", u"C:\\\xD83D\xDE00"},
      // A NUL is never a delimiter, even though it would match the delimiter text's terminator.
      {std::u16string(u"C:\\A\0X", 6), u"C:\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractFileDir(c.input), c.expected) << "input: " << Show(c.input);
}

TEST(PathRules, LastDelimiter) {
  const struct {
    std::u16string text;
    std::size_t expected;
  } cases[] = {
      {u"abc", 0}, {u"", 0}, {u"a\\b:c", 4}, {u"\\", 1}, {std::u16string(u"a\0", 2), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(LastDelimiter(u"\\:", c.text), c.expected) << "text: " << Show(c.text);
}

TEST(PathRules, IsDelimiter) {
  const std::u16string text = u"a\\:\xD800\xDC00";
  const struct {
    std::size_t position;
    bool expected;
  } cases[] = {{0, false}, {1, false}, {2, true}, {3, true}, {4, false}, {5, false}, {6, false}};
  for (const auto& c : cases) EXPECT_EQ(IsDelimiter(u"\\:", text, c.position), c.expected) << "position " << c.position;
  // A surrogate half is never a delimiter, even when the delimiter text holds it.
  EXPECT_FALSE(IsDelimiter(u"\xD800", text, 4));
}

TEST(PathRules, IsPathFullyQualified) {
  const struct {
    std::u16string path;
    bool expected;
  } cases[] = {
      {u"C:\\X.exe", true},          {u"c:/X.exe", true},           {u"\\\\server\\share\\X.exe", true},
      {u"//server/share/X.exe", true}, {u"\\\\?\\C:\\X.exe", true},  {u"\\\\.\\C:\\X.exe", true},
      {u"\\\\server\\share", true},
      {u"", false},                  {u"X.exe", false},             {u".\\X.exe", false},
      {u"..\\X.exe", false},         {u"\\X.exe", false},           {u"/X.exe", false},
      {u"C:X.exe", false},           {u"C:", false},                {u"\\\\", false},
      {u"\\\\X.exe", false},         {u"\\\\server\\", false},      {u"\\\\\\share\\X.exe", false},
      {u"\\??\\C:\\X.exe", false},   {u"1:\\X.exe", false},         {u"\uFF23:\\X.exe", false},
      {u"C\uFF1A\\X.exe", false},    {u"C:\uFF3CX.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPathFullyQualified(c.path), c.expected) << "path: " << Show(c.path);
}

TEST(PathRules, MayHoldEnvironmentReference) {
  const struct {
    std::u16string path;
    bool expected;
  } cases[] = {
      {u"C:\\%TEMP%\\X.exe", true}, {u"C:\\50%\\100%\\X.exe", true}, {u"C:\\%%\\X.exe", true},
      {u"C:\\100%\\X.exe", false},  {u"C:\\Tools\\X.exe", false},     {u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MayHoldEnvironmentReference(c.path), c.expected) << "path: " << Show(c.path);
}

}  // namespace
