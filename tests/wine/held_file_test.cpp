// A file held as Launcher-same-publisher.exe holds its installer (platform::OpenFileDenyingWriteAndDelete),
// and what others can still do to it and to its folder. The launcher checks that the path leads to the
// held file; these rows show that it keeps leading there while the file is held.
//
// What Wine cannot show: NTFS refuses to rename a folder that holds an open file, and a folder that
// cannot be emptied cannot become a junction; Wine renames the folder (a Linux rename), and its
// `mklink /j` makes no junction. Under Wine that row says so and is skipped; the check kit runs it on
// Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/unique_file_handle.h"
#include "tests/wine/junction.h"

namespace {

const std::wstring Folder = L"C:\\launcher-held";
const std::wstring Held = Folder + L"\\SentrelInstaller.exe";
const std::wstring Elsewhere = L"C:\\launcher-held-elsewhere";

bool OnWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// For failure messages: ASCII as it is, anything else as '?'.
std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

std::wstring FinalPath(HANDLE file) {
  wchar_t path[MAX_PATH * 2] = {};
  return GetFinalPathNameByHandleW(file, path, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) ? path : L"(none)";
}

// Runs a command line through System32's cmd.exe; its exit status, or a sentinel where it did not run.
DWORD RunCmd(const std::wstring& arguments) {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process))
    return 0xDEADBEEF;
  WaitForSingleObject(process.hProcess, 60000);
  DWORD status = 0xDEADBEEF;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

class HeldFile : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ASSERT_TRUE(CreateDirectoryW(Folder.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryW(Elsewhere.c_str(), nullptr)) << GetLastError();
    const HANDLE file = CreateFileW(Held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
    held_ = platform::UniqueFileHandle(platform::OpenFileDenyingWriteAndDelete(reinterpret_cast<const char16_t*>(Held.c_str())));
    ASSERT_TRUE(held_.IsValid()) << "not held: " << GetLastError();
    heldAs_ = FinalPath(reinterpret_cast<HANDLE>(held_.Get()));
  }
  void TearDown() override {
    held_ = platform::UniqueFileHandle();
    // Whatever a failing row left: a junction made after all, the file renamed, the folder renamed.
    for (const std::wstring& folder : {Folder, Folder + L"-renamed"}) {
      RemoveDirectoryW(folder.c_str());
      for (const wchar_t* name : {L"\\SentrelInstaller.exe", L"\\renamed.exe"}) DeleteFileW((folder + name).c_str());
      RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(Elsewhere.c_str());
  }

  platform::UniqueFileHandle held_;
  std::wstring heldAs_;
};

TEST_F(HeldFile, CannotBeWrittenRenamedOrDeletedByOthers) {
  const HANDLE writer = CreateFileW(Held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "opened for writing";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(MoveFileW(Held.c_str(), (Folder + L"\\renamed.exe").c_str())) << "renamed";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(Held.c_str())) << "deleted";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Narrow(FinalPath(reinterpret_cast<HANDLE>(held_.Get()))), Narrow(heldAs_));
}

// The path the launcher checked keeps leading to the held file: its folder cannot be renamed away, and
// nothing can take its name, neither `mklink /J` nor a junction set on the folder itself.
TEST_F(HeldFile, ItsFolderCannotBeRenamedOrReplacedByAJunction) {
  const std::wstring renamed = Folder + L"-renamed";
  const bool folderRenamed = MoveFileW(Folder.c_str(), renamed.c_str()) != FALSE;
  const DWORD renameError = GetLastError();
  if (folderRenamed) MoveFileW(renamed.c_str(), Folder.c_str());
  if (folderRenamed && OnWine())
    GTEST_SKIP() << "known Wine difference: Wine renamed a folder that holds an open file (NTFS refuses); "
                    "the check kit shows it on Windows";
  EXPECT_FALSE(folderRenamed) << "the held file's folder was renamed";
  EXPECT_NE(renameError, 0u);
  EXPECT_FALSE(RemoveDirectoryW(Folder.c_str())) << "the held file's folder was removed";

  const DWORD mklink = RunCmd(L"mklink /J \"" + Folder + L"\" \"" + Elsewhere + L"\"");
  EXPECT_NE(mklink, 0u) << "mklink /J of the held file's folder succeeded";
  EXPECT_NE(mklink, 0xDEADBEEFu) << "cmd.exe did not run";
  DWORD error = 0;
  EXPECT_FALSE(MakeJunction(Folder, Elsewhere, &error)) << "the held file's folder became a junction";
  EXPECT_NE(error, 0u);
  EXPECT_EQ(GetFileAttributesW(Folder.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(Narrow(FinalPath(reinterpret_cast<HANDLE>(held_.Get()))), Narrow(heldAs_));
}

}  // namespace
