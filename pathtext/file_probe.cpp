#include "pathtext/file_probe.h"

#include "platform/unique_find_handle.h"
#include "platform/win32_api.h"

bool FileExists(const UnicodeString& path) {
  const platform::Dword attributes = platform::GetFileAttributesW(path.c_str());
  if (attributes != platform::InvalidFileAttributes) return (attributes & platform::FileAttributeDirectory) == 0;

  const auto error = static_cast<platform::Status>(platform::GetLastError());
  if (error == platform::ErrorFileNotFound || error == platform::ErrorPathNotFound ||
      error == platform::ErrorInvalidName)
    return false;

  // A file that is open for exclusive use, or whose attributes we may not read, still shows up in its
  // directory listing, which reads the attributes from the directory instead of from the file.
  platform::Dword foundAttributes = 0;
  platform::UniqueFindHandle search(platform::FindFirstFileW(path.c_str(), &foundAttributes));
  if (!search.IsValid()) return false;
  return (foundAttributes & platform::FileAttributeDirectory) == 0;
}
