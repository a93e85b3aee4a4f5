#include "launcher/dll_search.h"

#include "platform/win32_api.h"

void RestrictDllSearchToSystemDirectory() {
  if (platform::SetDefaultDllDirectories(platform::LoadLibrarySearchSystem32)) return;
  // An empty string, not null: null would restore the default search order, current directory included.
  platform::SetDllDirectoryW(u"");
}
