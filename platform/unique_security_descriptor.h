// Sole owner of a security descriptor from GetSecurityInfo: freed (LocalFree) exactly once.
#pragma once

#include "platform/win32_api.h"

namespace platform {

class UniqueSecurityDescriptor {
 public:
  // Reads the owner and DACL of the object open as file; Status() is GetSecurityInfo's answer.
  explicit UniqueSecurityDescriptor(FileHandle file) : status_(GetSecurityInfo(file, &descriptor_, &owner_, &dacl_)) {}
  UniqueSecurityDescriptor(const UniqueSecurityDescriptor&) = delete;
  UniqueSecurityDescriptor& operator=(const UniqueSecurityDescriptor&) = delete;
  ~UniqueSecurityDescriptor() {
    if (descriptor_ != NoSecurityDescriptor) LocalFree(descriptor_);
  }

  platform::Status Status() const { return status_; }
  // The owner's SID and the DACL, each null where there is none; valid while this lives.
  const std::uint8_t* Owner() const { return owner_; }
  const void* Dacl() const { return dacl_; }

 private:
  SecurityDescriptor descriptor_ = NoSecurityDescriptor;
  const std::uint8_t* owner_ = nullptr;
  const void* dacl_ = nullptr;
  platform::Status status_;
};

}  // namespace platform
