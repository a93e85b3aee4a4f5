#include "kit/xml_text.h"

#include "kit/program_output.h"

std::string XmlText(const std::string& text) {
  std::string out;
  const std::string utf8 = kit::ValidUtf8(text);
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    // U+FFFE and U+FFFF are no XML characters either.
    if (utf8.compare(i, 3, "\xEF\xBF\xBE") == 0 || utf8.compare(i, 3, "\xEF\xBF\xBF") == 0) {
      out += "\xEF\xBF\xBD";
      i += 2;
      continue;
    }
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
