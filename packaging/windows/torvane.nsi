; The Windows installer: for the current user (no administrator rights needed) or for
; every user of the PC, a Start-menu entry, an uninstaller, and on request torvane-cli on
; the PATH.
; scripts/package-windows passes VERSION, STAGE (the folder to install), OUTFILE and FILELIST.
;
; Who it installs for: an administrator's elevated run installs for every user (Program
; Files, HKLM), any other run for the current user ($LOCALAPPDATA\Programs, HKCU); the
; switches /ALLUSERS and /CURRENTUSER choose explicitly, /PATH puts torvane-cli on the PATH.
; A 64-bit installer: it runs where the program runs, with no 32-bit layer needed.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "x64.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

Name "Torvane ${VERSION}"
OutFile "${OUTFILE}"
; No InstallDir: the folder follows the choice of users (or /D=).
RequestExecutionLevel user
ShowInstDetails show
!ifdef SIGN_COMMAND
  ; The uninstaller is written by the installer: signed here, before it is packed.
  !uninstfinalize '${SIGN_COMMAND} "%1"'
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvane"
!define MACHINE_ENVIRONMENT "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE as 64-bit handles (sign-extended).
!define HKCU_HANDLE 0xFFFFFFFF80000001
!define HKLM_HANDLE 0xFFFFFFFF80000002
!define ERROR_ELEVATION_REQUIRED 740

Var PerMachine

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Adds $INSTDIR to the PATH of the chosen users ($0 = 1) or takes it out ($0 = 0).
; The value is handled only in memory through the System plug-in: makensis's strings
; hold 1024 characters, and a PATH that went through one would come back cut.
!macro EDIT_PATH_FUNCTION UN
Function ${UN}EditPath
  ${If} $PerMachine == 1
    StrCpy $1 ${HKLM_HANDLE}
    StrCpy $2 "${MACHINE_ENVIRONMENT}"
  ${Else}
    StrCpy $1 ${HKCU_HANDLE}
    StrCpy $2 "Environment"
  ${EndIf}
  ; KEY_QUERY_VALUE | KEY_SET_VALUE
  System::Call 'advapi32::RegCreateKeyExW(p r1, w r2, i 0, p 0, i 0, i 3, p 0, *p .r3, p 0) i .r4'
  ${If} $4 <> 0
    DetailPrint "PATH left as it was: the environment key cannot be opened ($4)"
    Return
  ${EndIf}
  ; The value's size and type; none yet is an empty PATH of the expandable type.
  StrCpy $5 0
  StrCpy $6 0
  System::Call 'advapi32::RegQueryValueExW(p r3, w "Path", p 0, *i r5r5, p 0, *i r6r6) i .r4'
  ${If} $4 <> 0
    StrCpy $5 2
    StrCpy $6 0
  ${EndIf}
  ; ";" + value + ";" + $INSTDIR + NUL, with room to spare.
  StrLen $7 $INSTDIR
  IntOp $7 $7 * 2
  IntOp $7 $7 + $6
  IntOp $7 $7 + 16
  System::Alloc $7
  Pop $8
  System::Call 'kernel32::lstrcpyW(p r8, w ";")'
  IntPtrOp $9 $8 + 2
  ${If} $6 > 0
    System::Call 'advapi32::RegQueryValueExW(p r3, w "Path", p 0, p 0, p r9, *i r6r6) i .r4'
  ${EndIf}
  System::Call 'kernel32::lstrcatW(p r8, w ";")'
  ; Now ";PATH;": every entry between two semicolons, also the first and the last.
  StrCpy $R0 0 ; changed
  ${If} $0 == 1
    System::Call 'shlwapi::StrStrIW(p r8, w ";$INSTDIR;") p .r4'
    ${If} $4 == 0
      ; Appended after the old value's own last semicolon, or after the one added.
      System::Call 'kernel32::lstrlenW(p r9) i .r4'
      ${If} $4 > 1
        IntOp $4 $4 - 2
        IntPtrOp $R1 $4 * 2
        IntPtrOp $R1 $R1 + $9
        System::Call '*$R1(&i2 .R2)'
        ${If} $R2 == 59
          IntPtrOp $R1 $R1 + 2
          System::Call '*$R1(&i2 0)'
        ${EndIf}
      ${EndIf}
      System::Call 'kernel32::lstrcatW(p r8, w "$INSTDIR")'
      StrCpy $R0 1
    ${EndIf}
  ${Else}
    ${Do}
      System::Call 'shlwapi::StrStrIW(p r8, w ";$INSTDIR;") p .r4'
      ${If} $4 == 0
        ${Break}
      ${EndIf}
      ; Drop ";$INSTDIR", keeping the semicolon that follows it.
      StrLen $R1 ";$INSTDIR"
      IntPtrOp $R1 $R1 * 2
      IntPtrOp $R1 $R1 + $4
      System::Call 'kernel32::lstrlenW(p R1) i .R2'
      IntOp $R2 $R2 + 1
      IntOp $R2 $R2 * 2
      System::Call 'kernel32::RtlMoveMemory(p r4, p R1, p R2)'
      StrCpy $R0 1
    ${Loop}
    ; The closing semicolon added above goes again.
    System::Call 'kernel32::lstrlenW(p r8) i .r4'
    IntOp $4 $4 - 1
    IntPtrOp $R1 $4 * 2
    IntPtrOp $R1 $R1 + $8
    System::Call '*$R1(&i2 0)'
  ${EndIf}
  ${If} $R0 == 1
    System::Call 'kernel32::lstrlenW(p r9) i .r4'
    IntOp $4 $4 + 1
    IntOp $4 $4 * 2
    System::Call 'advapi32::RegSetValueExW(p r3, w "Path", i 0, i r5, p r9, i r4) i .r4'
    ${If} $4 <> 0
      DetailPrint "PATH left as it was: it cannot be written ($4)"
    ${EndIf}
  ${EndIf}
  System::Free $8
  System::Call 'advapi32::RegCloseKey(p r3)'
  ; Programs started from now on (a new console window) see the new PATH.
  System::Call 'user32::SendMessageTimeoutW(p 0xffff, i 0x1A, p 0, w "Environment", i 2, i 5000, *p .r4)'
FunctionEnd
!macroend
!insertmacro EDIT_PATH_FUNCTION ""
!insertmacro EDIT_PATH_FUNCTION "un."

Section "Torvane" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Torvane"
  CreateShortcut "$SMPROGRAMS\Torvane\Torvane.lnk" "$INSTDIR\torvane.exe"
  ${If} $PerMachine == 1
    StrCpy $0 "/ALLUSERS"
  ${Else}
    StrCpy $0 "/CURRENTUSER"
  ${EndIf}
  CreateShortcut "$SMPROGRAMS\Torvane\Uninstall Torvane.lnk" "$INSTDIR\Uninstall.exe" "$0"
  ; SHCTX: HKLM for every user, HKCU for the current one.
  WriteRegStr SHCTX "Software\Torvane" "InstallDir" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Torvane"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Torvane developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\torvane.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" $0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" $0 /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Put torvane-cli on the PATH" SecPath
  StrCpy $0 1
  Call EditPath
  WriteRegDWORD SHCTX "Software\Torvane" "OnPath" 1
SectionEnd

; Sets $PerMachine from the account and the switches; quits when every user is asked
; for without the rights for it.
!macro CHOOSE_USERS UN
  UserInfo::GetAccountType
  Pop $3
  StrCpy $PerMachine 0
  !if "${UN}" == "un."
    ; Started without a switch: the installation is the current user's when it is
    ; registered as theirs.
    ReadRegStr $4 HKCU "Software\Torvane" "InstallDir"
    ${If} $4 != $INSTDIR
      StrCpy $PerMachine 1
    ${EndIf}
  !else
    ${If} $3 == "Admin"
      StrCpy $PerMachine 1
    ${EndIf}
  !endif
  ${${UN}GetParameters} $1
  ClearErrors
  ${${UN}GetOptions} $1 "/ALLUSERS" $2
  ${IfNot} ${Errors}
    StrCpy $PerMachine 1
  ${EndIf}
  ClearErrors
  ${${UN}GetOptions} $1 "/CURRENTUSER" $2
  ${IfNot} ${Errors}
    StrCpy $PerMachine 0
  ${EndIf}
  ${If} $PerMachine == 1
  ${AndIf} $3 != "Admin"
    !if "${UN}" == "un."
      ; Settings (Apps) starts the uninstaller with the user's rights: it asks for the
      ; administrator's itself, once (/ELEVATED marks the second run), and the elevated
      ; copy does the work.
      ClearErrors
      ${un.GetOptions} $1 "/ELEVATED" $2
      ${If} ${Errors}
        ClearErrors
        ExecShellWait "runas" "$EXEPATH" '$1 /ELEVATED _?=$INSTDIR'
        ${IfNot} ${Errors}
          Quit
        ${EndIf}
      ${EndIf}
    !endif
    MessageBox MB_OK|MB_ICONSTOP "Installing or removing Torvane for every user of this PC needs administrator rights: run it as administrator. Without them, /CURRENTUSER installs it for you alone." /SD IDOK
    SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
  ${If} $PerMachine == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "Torvane needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  !insertmacro CHOOSE_USERS ""
  ClearErrors
  ${GetOptions} $1 "/PATH" $2
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} $PerMachine == 1
      StrCpy $INSTDIR "$PROGRAMFILES64\Torvane"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Torvane"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro CHOOSE_USERS "un."
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 SHCTX "Software\Torvane" "OnPath"
  ${If} $0 == 1
    StrCpy $0 0
    Call un.EditPath
  ${EndIf}
  ; Only what the installer put there: the user's settings in %APPDATA% stay.
  !include "${FILELIST}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\examples"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Torvane\Torvane.lnk"
  Delete "$SMPROGRAMS\Torvane\Uninstall Torvane.lnk"
  RMDir "$SMPROGRAMS\Torvane"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DeleteRegKey SHCTX "Software\Torvane"
SectionEnd
