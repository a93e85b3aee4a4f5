// The launcher's setting, kept safe while the check kit's programs change it: the setting's key in both
// registry views, every value in it, saved to a file and written back from it. The file stays until the
// key is back, so that a run that is cut off leaves it, and the next run restores from it first.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

class SettingBackup {
 public:
  explicit SettingBackup(std::wstring path) : path_(std::move(path)) {}

  const std::wstring& Path() const { return path_; }
  // Whether a saved copy is waiting to be written back.
  bool Pending() const;
  // Saves both views of the key to the file. False when the file cannot be written.
  bool Save() const;
  // Removes the setting from both views, so that the programs that change it start from none: every
  // value of the key, then the key itself unless it holds subkeys. False when a value stays.
  bool Remove() const;
  // Puts the key back as it was in each view: its values replaced by the saved ones, or the key removed
  // where there was none; then deletes the file. False, keeping the file, when the saved copy is
  // unreadable or a value cannot be written.
  bool Restore() const;

 private:
  std::wstring path_;
};
