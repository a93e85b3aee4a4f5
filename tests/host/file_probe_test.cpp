#include "pathtext/file_probe.h"

#include <gtest/gtest.h>

#include "tests/host/fake_platform.h"

namespace {

constexpr platform::Dword NormalFile = 0x80;
constexpr platform::Dword Directory = platform::FileAttributeDirectory;
constexpr platform::Dword Absent = 0xDEAD;  // marker: the path is not in the directory listing

TEST(FileProbe, AttributesErrorsAndTheSearchFallback) {
  const struct {
    const char* name;
    platform::Status attributesError;  // ErrorSuccess: GetFileAttributesW answers with the listing
    platform::Dword listed;
    bool expected;
    bool searched;
  } cases[] = {
      {"file", platform::ErrorSuccess, NormalFile, true, false},
      {"read-only hidden file", platform::ErrorSuccess, 0x1 | 0x2, true, false},
      {"directory", platform::ErrorSuccess, Directory, false, false},
      {"missing file", platform::ErrorFileNotFound, Absent, false, false},
      {"missing parent", platform::ErrorPathNotFound, Absent, false, false},
      {"invalid name", platform::ErrorInvalidName, Absent, false, false},
      // Even when a listing would find it, these errors answer false without searching.
      {"not found but listed", platform::ErrorFileNotFound, NormalFile, false, false},
      {"locked file", platform::ErrorSharingViolation, NormalFile, true, true},
      {"locked directory", platform::ErrorSharingViolation, Directory, false, true},
      {"locked and not found by search", platform::ErrorSharingViolation, Absent, false, true},
      {"access denied file", platform::ErrorAccessDenied, NormalFile, true, true},
  };
  const std::u16string path = u"C:\\Tools\\SentrelInstaller.exe";
  for (const auto& c : cases) {
    ResetFakeWindows();
    auto& fake = FakeWindows();
    if (c.listed != Absent) fake.attributes[path] = c.listed;
    if (c.attributesError != platform::ErrorSuccess) {
      if (c.listed != Absent) fake.attributeErrors[path] = c.attributesError;
      else fake.missingError = c.attributesError;
    }
    EXPECT_EQ(FileExists(path), c.expected) << c.name;
    EXPECT_EQ(fake.searches, c.searched ? 1 : 0) << c.name;
    EXPECT_EQ(fake.openSearches, 0) << c.name << ": search handle left open";
  }
}

}  // namespace
