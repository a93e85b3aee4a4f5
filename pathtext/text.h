// The program's two kinds of text.
//
// UnicodeString: UTF-16 code units, as the registry and the wide file APIs speak them.
// AnsiString: bytes together with the code page they are in. Empty and absent text are the same thing.
#pragma once

#include <cstdint>
#include <string>

using UnicodeString = std::u16string;

class AnsiString {
 public:
  // CP_ACP: "whatever the system ANSI code page is", which is what narrow literals of this program mean.
  static constexpr std::uint32_t AnsiCodePageOfSystem = 0;

  AnsiString() = default;
  explicit AnsiString(std::string bytes, std::uint32_t codePage = AnsiCodePageOfSystem)
      : bytes_(std::move(bytes)), codePage_(codePage) {}

  const std::string& Bytes() const { return bytes_; }
  // NUL-terminated, for the narrow Win32 entry points.
  const char* CStr() const { return bytes_.c_str(); }
  std::uint32_t CodePage() const { return codePage_; }
  bool IsEmpty() const { return bytes_.empty(); }

  // Joins the bytes; an empty left side yields the right side unchanged, code page included.
  friend AnsiString operator+(const AnsiString& left, const AnsiString& right) {
    if (left.IsEmpty()) return right;
    return AnsiString(left.bytes_ + right.bytes_, left.codePage_);
  }

 private:
  std::string bytes_;
  std::uint32_t codePage_ = AnsiCodePageOfSystem;
};
