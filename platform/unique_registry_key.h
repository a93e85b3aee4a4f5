// Sole owner of an open registry key: closes it exactly once.
#pragma once

#include "platform/win32_api.h"

namespace platform {

class UniqueRegistryKey {
 public:
  UniqueRegistryKey() = default;
  explicit UniqueRegistryKey(RegistryKeyHandle key) : key_(key) {}
  UniqueRegistryKey(const UniqueRegistryKey&) = delete;
  UniqueRegistryKey& operator=(const UniqueRegistryKey&) = delete;
  UniqueRegistryKey(UniqueRegistryKey&& other) noexcept : key_(other.Release()) {}
  UniqueRegistryKey& operator=(UniqueRegistryKey&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueRegistryKey() { Reset(); }

  RegistryKeyHandle Get() const { return key_; }
  explicit operator bool() const { return key_ != NoRegistryKey; }

  // Gives up ownership without closing; returns the handle (NoRegistryKey when empty).
  RegistryKeyHandle Release() {
    RegistryKeyHandle key = key_;
    key_ = NoRegistryKey;
    return key;
  }
  // Closes the owned key, if any, and takes key. A failed close is not reported: there is nothing to do.
  void Reset(RegistryKeyHandle key = NoRegistryKey) {
    if (key_ != NoRegistryKey) RegCloseKey(key_);
    key_ = key;
  }

 private:
  RegistryKeyHandle key_ = NoRegistryKey;
};

}  // namespace platform
