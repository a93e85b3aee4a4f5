// What other processes send to OutputDebugString, collected the way debug viewers do it.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace wine_test {

// Collects what other processes send to OutputDebugString when no debugger is attached, through the
// shared buffer that debug viewers use (DBWIN_BUFFER and its two events). A debugger is not used
// instead: attaching one changes how the debuggee's exceptions are dispatched.
class DebugOutputCapture {
 public:
  DebugOutputCapture() {
    bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &DebugOutputCapture::Run, this, 0, nullptr);
  }
  ~DebugOutputCapture() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    for (HANDLE h : {thread_, stop_, dataReady_, bufferReady_}) CloseHandle(h);
    UnmapViewOfFile(view_);
    CloseHandle(mapping_);
    DeleteCriticalSection(&lock_);
  }
  bool Ready() const { return view_ != nullptr && thread_ != nullptr; }
  // What process pid has written so far; when expecting some, waits up to five seconds for text still on
  // its way through the buffer.
  std::string TextOf(DWORD pid, bool expectingSome) {
    for (int i = 0; expectingSome && i < 100 && ReceivedFrom(pid).empty(); ++i) Sleep(50);
    return ReceivedFrom(pid);
  }

 private:
  std::string ReceivedFrom(DWORD pid) {
    EnterCriticalSection(&lock_);
    std::string text;
    for (const auto& [from, message] : received_)
      if (from == pid) text += message;
    LeaveCriticalSection(&lock_);
    return text;
  }
  static DWORD WINAPI Run(void* self) { return static_cast<DebugOutputCapture*>(self)->Loop(); }
  DWORD Loop() {
    HANDLE waits[] = {stop_, dataReady_};
    for (;;) {
      SetEvent(bufferReady_);
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return 0;
      DWORD pid = 0;
      memcpy(&pid, view_, sizeof pid);
      const std::string message(view_ + sizeof pid, strnlen(view_ + sizeof pid, 4096 - sizeof pid));
      EnterCriticalSection(&lock_);
      received_.emplace_back(pid, message);
      LeaveCriticalSection(&lock_);
    }
  }
  HANDLE bufferReady_, dataReady_, mapping_, stop_, thread_;
  const char* view_;
  CRITICAL_SECTION lock_;
  std::vector<std::pair<DWORD, std::string>> received_;
};

}  // namespace wine_test
