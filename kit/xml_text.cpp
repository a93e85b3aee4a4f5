#include "kit/xml_text.h"

#include "kit/program_output.h"

namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 where none starts there.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  for (std::size_t length = 1; length <= 4 && at + length <= text.size(); ++length)
    if (kit::IsUtf8(text.substr(at, length))) return length;
  return 0;
}

}  // namespace

std::string XmlText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (length > 1) {
      const std::string sequence = text.substr(i, length);
      // U+FFFE and U+FFFF are no XML characters either.
      out += sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF" ? std::string("\xEF\xBF\xBD") : sequence;
      i += length;
      continue;
    }
    ++i;
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\r': break;
      case '\n': out += "&#10;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
  return out;
}
