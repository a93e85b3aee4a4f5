// FileExists against Wine's file system.
#include <windows.h>

#include <gtest/gtest.h>

#include "pathtext/file_probe.h"

namespace {

std::u16string ScratchDirectory() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::u16string dir = reinterpret_cast<const char16_t*>(temp);
  dir += u"launcher-probe-" + std::u16string(1, static_cast<char16_t>(u'a' + GetCurrentProcessId() % 26));
  CreateDirectoryW(reinterpret_cast<const wchar_t*>(dir.c_str()), nullptr);
  return dir;
}

TEST(FileProbe, RealFileSystem) {
  const std::u16string dir = ScratchDirectory();
  const std::u16string file = dir + u"\\SentrelInstaller.exe";
  const std::u16string subdir = dir + u"\\SentrelInstaller.exe.d";
  HANDLE created = CreateFileW(reinterpret_cast<const wchar_t*>(file.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  CloseHandle(created);
  CreateDirectoryW(reinterpret_cast<const wchar_t*>(subdir.c_str()), nullptr);

  const struct {
    const char* name;
    std::u16string path;
    bool expected;
  } cases[] = {
      {"file", file, true},
      {"directory", subdir, false},
      {"missing file", dir + u"\\Missing.exe", false},
      {"missing parent", dir + u"\\NoSuchDir\\SentrelInstaller.exe", false},
      {"invalid name", dir + u"\\Sentrel<Installer>.exe", false},
      {"wildcard does not match by pattern", dir + u"\\Sentrel*.exe", false},
      {"empty path", u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(FileExists(c.path), c.expected) << c.name;

  DeleteFileW(reinterpret_cast<const wchar_t*>(file.c_str()));
  RemoveDirectoryW(reinterpret_cast<const wchar_t*>(subdir.c_str()));
  RemoveDirectoryW(reinterpret_cast<const wchar_t*>(dir.c_str()));
}

}  // namespace
