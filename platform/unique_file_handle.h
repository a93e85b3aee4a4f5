// Sole owner of a file or folder handle from CreateFileW: closes it exactly once.
#pragma once

#include "platform/win32_api.h"

namespace platform {

class UniqueFileHandle {
 public:
  UniqueFileHandle() = default;
  explicit UniqueFileHandle(FileHandle file) : file_(file) {}
  UniqueFileHandle(const UniqueFileHandle&) = delete;
  UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
  UniqueFileHandle(UniqueFileHandle&& other) noexcept : file_(other.file_) { other.file_ = InvalidFileHandle; }
  UniqueFileHandle& operator=(UniqueFileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      file_ = other.file_;
      other.file_ = InvalidFileHandle;
    }
    return *this;
  }
  ~UniqueFileHandle() { Close(); }

  // True when a file is open (the open did not fail).
  bool IsValid() const { return file_ != InvalidFileHandle; }
  FileHandle Get() const { return file_; }

 private:
  void Close() {
    if (IsValid()) CloseFileHandle(file_);
    file_ = InvalidFileHandle;
  }
  FileHandle file_ = InvalidFileHandle;
};

}  // namespace platform
