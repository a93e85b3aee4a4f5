// Sole owner of a WinVerifyTrust verification: the state a VerifyTrust left, closed exactly once
// (WTD_STATEACTION_CLOSE), whatever the verification answered.
#pragma once

#include "platform/win32_api.h"

namespace platform {

class UniqueTrustState {
 public:
  // Verifies file (which path names) at once; Status() is the answer.
  UniqueTrustState(FileHandle file, const char16_t* path, RevocationCheck revocation, Dword providerFlags)
      : file_(file), path_(path), status_(VerifyTrust(file, path, revocation, providerFlags, &state_)) {}
  UniqueTrustState(const UniqueTrustState&) = delete;
  UniqueTrustState& operator=(const UniqueTrustState&) = delete;
  ~UniqueTrustState() { CloseTrustState(file_, path_, state_); }

  platform::Status Status() const { return status_; }
  TrustState Get() const { return state_; }

 private:
  FileHandle file_;
  const char16_t* path_;
  TrustState state_ = 0;
  platform::Status status_;
};

}  // namespace platform
