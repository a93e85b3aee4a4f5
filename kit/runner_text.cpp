#include "kit/runner_text.h"

#include <windows.h>

namespace runner {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::string Ansi(const std::wstring& text) {
  char bytes[MAX_PATH * 4] = {};
  wchar_t back[MAX_PATH * 4] = {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
  const bool exact = length > 0 && MultiByteToWideChar(CP_ACP, 0, bytes, -1, back, MAX_PATH * 4) > 0 && text == back;
  return exact ? std::string(bytes) : std::string();
}

}  // namespace runner
