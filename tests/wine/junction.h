// Makes a folder a junction (a mount point reparse point), as `mklink /J` does: Windows allows it
// without elevation, on an empty folder only. Wine 8 supports neither this nor `mklink /j`.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>

// folder: an existing, empty folder; target: a fully qualified folder. False, with *error, where not.
inline bool MakeJunction(const std::wstring& folder, const std::wstring& target, DWORD* error) {
  const HANDLE directory = CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  // REPARSE_DATA_BUFFER's mount point form: tag, length, then the four offsets and lengths of the
  // substitute name ("\??\C:\...") and the print name, each followed by a NUL.
  const std::wstring substitute = L"\\??\\" + target;
  const auto substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  const auto printBytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
  BYTE buffer[4096] = {};
  const auto dataLength = static_cast<WORD>(8 + substituteBytes + 2 + printBytes + 2);
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  const WORD names[] = {0, substituteBytes, static_cast<WORD>(substituteBytes + 2), printBytes};
  std::memcpy(buffer, &tag, 4);
  std::memcpy(buffer + 4, &dataLength, 2);
  std::memcpy(buffer + 8, names, sizeof names);
  std::memcpy(buffer + 16, substitute.c_str(), substituteBytes);
  std::memcpy(buffer + 16 + substituteBytes + 2, target.c_str(), printBytes);
  DWORD returned = 0;
  const bool made = DeviceIoControl(directory, FSCTL_SET_REPARSE_POINT, buffer, 8u + dataLength, nullptr, 0, &returned,
                                    nullptr) != FALSE;
  *error = made ? 0 : GetLastError();
  CloseHandle(directory);
  return made;
}
