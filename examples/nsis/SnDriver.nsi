; The smallest correct NSIS 3 installer that ships Launcher.exe. With Launcher.exe and
; SentrelInstaller.exe beside this file:
;
;   makensis SnDriver.nsi        (makes SnDriverSetup.exe; /S installs silently)
;
; What matters:
; - SetRegView 32. Launcher.exe is a 32-bit program: on 64-bit Windows it reads
;   HKLM\Software\WOW6432Node\Vantorq Technologies\SnDriverInstaller, which is where the 32-bit view's
;   HKLM\Software\Vantorq Technologies\SnDriverInstaller lives. (An NSIS installer is 32-bit and writes
;   that view by default; SetRegView 64 would put the setting where the launcher never starts from, and
;   its line on the debugger output would then say "the 64-bit view holds one".)
; - InstallDirectory is REG_SZ (WriteRegStr) and a full path. A trailing backslash is fine: the launcher
;   drops one. Not WriteRegExpandStr: the launcher does not expand %VARIABLES%, and a path such as
;   %ProgramFiles%\X starts nothing.
; - SetShellVarContext all: the Start-menu shortcut is for every user, as the setting is machine-wide.
; - The uninstaller removes every file, key and shortcut the installer made.
Unicode true
Name "SnDriver"
OutFile "SnDriverSetup.exe"
RequestExecutionLevel admin          ; HKLM and Program Files are for administrators
InstallDir "$PROGRAMFILES32\Vantorq\SnDriver"

!define SettingKey "Software\Vantorq Technologies\SnDriverInstaller"
!define UninstallKey "Software\Microsoft\Windows\CurrentVersion\Uninstall\SnDriver"

Section
  SetShellVarContext all
  SetRegView 32
  SetOutPath "$INSTDIR"
  File "Launcher.exe"
  File "SentrelInstaller.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${SettingKey}" "InstallDirectory" "$INSTDIR\"
  CreateDirectory "$SMPROGRAMS\SnDriver"
  CreateShortcut "$SMPROGRAMS\SnDriver\SnDriver Setup.lnk" "$INSTDIR\Launcher.exe"
  WriteRegStr HKLM "${UninstallKey}" "DisplayName" "SnDriver"
  WriteRegStr HKLM "${UninstallKey}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 32
  Delete "$SMPROGRAMS\SnDriver\SnDriver Setup.lnk"
  RMDir "$SMPROGRAMS\SnDriver"
  Delete "$INSTDIR\Launcher.exe"
  Delete "$INSTDIR\SentrelInstaller.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."                 ; Vantorq, when nothing else of the vendor's is in it
  DeleteRegKey HKLM "${SettingKey}"
  DeleteRegKey /ifempty HKLM "Software\Vantorq Technologies"
  DeleteRegKey HKLM "${UninstallKey}"
SectionEnd
