// A whole file's bytes, read and closed again (Windows cannot delete a file that is still open); empty
// when it cannot be read.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string FileContents(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}
