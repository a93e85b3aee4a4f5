// Sole owner of a FindFirstFileW search: closes it exactly once.
#pragma once

#include "platform/win32_api.h"

namespace platform {

class UniqueFindHandle {
 public:
  UniqueFindHandle() = default;
  explicit UniqueFindHandle(FindHandle search) : search_(search) {}
  UniqueFindHandle(const UniqueFindHandle&) = delete;
  UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;
  UniqueFindHandle(UniqueFindHandle&& other) noexcept : search_(other.search_) { other.search_ = InvalidFindHandle; }
  UniqueFindHandle& operator=(UniqueFindHandle&& other) noexcept {
    if (this != &other) {
      Close();
      search_ = other.search_;
      other.search_ = InvalidFindHandle;
    }
    return *this;
  }
  ~UniqueFindHandle() { Close(); }

  // True when a search is open (FindFirstFileW did not fail).
  bool IsValid() const { return search_ != InvalidFindHandle; }
  FindHandle Get() const { return search_; }

 private:
  void Close() {
    if (IsValid()) FindClose(search_);
    search_ = InvalidFindHandle;
  }
  FindHandle search_ = InvalidFindHandle;
};

}  // namespace platform
