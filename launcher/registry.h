// TRegistry: a small accessor over one open registry key at a time.
//
// It starts rooted at HKEY_CURRENT_USER with KEY_ALL_ACCESS unless told otherwise, owns the key it opens,
// and closes it in CloseKey() or when destroyed.
#pragma once

#include "pathtext/text.h"
#include "platform/unique_registry_key.h"
#include "platform/win32_api.h"

class TRegistry {
 public:
  explicit TRegistry(platform::Dword accessMask = platform::KeyAllAccess);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
  TRegistry(TRegistry&&) = default;
  TRegistry& operator=(TRegistry&&) = default;

  platform::RegistryKeyHandle RootKey() const { return rootKey_; }
  // Switching to another root closes the current key first.
  void SetRootKey(platform::RegistryKeyHandle rootKey);

  platform::Dword Access() const { return accessMask_; }
  platform::RegistryKeyHandle CurrentKey() const { return currentKey_.Get(); }
  const UnicodeString& CurrentPath() const { return currentPath_; }
  bool LazyWrite() const { return lazyWrite_; }
  void SetLazyWrite(bool lazyWrite) { lazyWrite_ = lazyWrite; }

  // Opens key (absolute with a leading backslash, else relative to the current key, or to the root when
  // none is open) and makes it current; creates it when canCreate. False on any failure, state unchanged.
  bool OpenKey(const UnicodeString& key, bool canCreate);

  // The text of a REG_SZ or REG_EXPAND_SZ value of the current key, cut at its first NUL and never
  // expanded. Empty when the value is absent or has no data. Throws ERegistryException when the value
  // has another type or its data cannot be read.
  UnicodeString ReadString(const UnicodeString& valueName);

  // Closes the current key (flushing it first unless LazyWrite); does nothing when none is open.
  void CloseKey();

 private:
  platform::RegistryKeyHandle rootKey_ = platform::HkeyCurrentUser;
  platform::Dword accessMask_;
  platform::UniqueRegistryKey currentKey_;
  UnicodeString currentPath_;
  bool lazyWrite_ = true;
};
