// Text as the runner's report holds it (UTF-8), and as an ANSI function takes it.
#pragma once

#include <string>

namespace runner {

std::string Utf8(const std::wstring& text);
// The ANSI form of text, or empty when the ANSI code page cannot spell it exactly.
std::string Ansi(const std::wstring& text);

}  // namespace runner
