; The Windows installer: Program Files, a Start-menu entry, an uninstaller.
; scripts/package-windows passes VERSION, STAGE (the folder to install) and OUTFILE.
; A 64-bit installer: it runs where the program runs, with no 32-bit layer needed.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "x64.nsh"

Name "Torvane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Torvane"
InstallDirRegKey HKLM "Software\Torvane" "InstallDir"
RequestExecutionLevel admin
ShowInstDetails show

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "Torvane needs 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Section "Torvane"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Torvane"
  CreateShortcut "$SMPROGRAMS\Torvane\Torvane.lnk" "$INSTDIR\torvane.exe"
  CreateShortcut "$SMPROGRAMS\Torvane\Uninstall Torvane.lnk" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "Software\Torvane" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Torvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Torvane developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\torvane.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Only what the installer put there: the user's settings in %APPDATA% stay.
  !include "${FILELIST}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\examples"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Torvane\Torvane.lnk"
  Delete "$SMPROGRAMS\Torvane\Uninstall Torvane.lnk"
  RMDir "$SMPROGRAMS\Torvane"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Torvane"
SectionEnd
