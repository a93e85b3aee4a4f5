// A kernel handle (a process's, a thread's, a token's, a file's), closed once when its owner goes.
#pragma once

#include <windows.h>

class OwnedHandle {
 public:
  OwnedHandle() = default;
  // Takes handle over; nullptr and INVALID_HANDLE_VALUE both mean none.
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Closes what it holds, and gives the place for a function to write a new handle into.
  HANDLE* Out() {
    Reset();
    return &handle_;
  }
  // Closes what it holds now.
  void Reset() {
    if (Valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};
