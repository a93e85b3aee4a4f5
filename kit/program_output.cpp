#include "kit/program_output.h"

#include <sstream>

namespace kit {

bool IsUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    // The length a lead byte announces, and the least code point that length may spell (no overlongs).
    const int length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > bytes.size()) return false;
    unsigned long code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (int k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    static const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

std::string ValidUtf8(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t length = 1;
    while (length <= 4 && !(i + length <= bytes.size() && IsUtf8(bytes.substr(i, length)))) ++length;
    out += length <= 4 ? bytes.substr(i, length) : std::string("\xEF\xBF\xBD");
    i += length <= 4 ? length : 1;
  }
  return out;
}

std::string FailureLines(const std::string& output, const std::function<std::string(const std::string&)>& fromCodePage) {
  std::istringstream in(IsUtf8(output) ? output : fromCodePage(output));
  std::string line, kept;
  int count = 0;
  while (std::getline(in, line) && count < 40) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.rfind("[ RUN", 0) == 0 || line.rfind("[       OK", 0) == 0 || line.rfind("[--", 0) == 0) continue;
    kept += "\r\n    " + line;
    ++count;
  }
  return kept;
}

}  // namespace kit
