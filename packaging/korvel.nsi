; SPDX-License-Identifier: MIT
; The korvel installer for one architecture: the window and the command line, a Start-menu shortcut and an
; uninstaller. Made by makensis on the build machine (cmake --build --preset windows --target installer);
; defines: VERSION, ARCH (x64 or x86), STAGE (folder with the programs and korvel.ico), OUTFILE.
Unicode true
!include nsDialogs.nsh
!include LogicLib.nsh
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION | ARCH | STAGE | OUTFILE
  !error "VERSION, ARCH, STAGE and OUTFILE must be defined"
!endif

Name "korvel ${VERSION} (${ARCH})"
OutFile "${OUTFILE}"
Icon "${STAGE}\korvel.ico"
UninstallIcon "${STAGE}\korvel.ico"
!if ${ARCH} == "x64"
  InstallDir "$PROGRAMFILES64\korvel"
!else
  InstallDir "$PROGRAMFILES\korvel"
!endif
InstallDirRegKey HKLM "Software\korvel" "InstallDir"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "korvel"
VIAddVersionKey "FileDescription" "korvel installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "MIT License"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\korvel"
; x64 and x86 may be installed side by side: each has a shortcut and a name of its own, so that
; removing one leaves the other's shortcut in place.
!if ${ARCH} == "x64"
  !define SHORTCUT "korvel.lnk"
  !define DISPLAY_NAME "korvel"
!else
  !define SHORTCUT "korvel (x86).lnk"
  !define DISPLAY_NAME "korvel (x86)"
!endif

Var ComPort
Var ComPortField

Page components
Page directory
Page custom ComPortPage ComPortLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  !if ${ARCH} == "x64"
    SetRegView 64
  !endif
FunctionEnd

; Asked only when the daily download is chosen: the COM port the recorder is on.
Function ComPortPage
  ${IfNot} ${SectionIsSelected} 1
    Abort
  ${EndIf}
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "The daily download reads the recorder on this COM port into the upload folder of the user who installs korvel (%USERPROFILE%\hollin.data\upload):"
  Pop $0
  ${NSD_CreateText} 0 30u 60u 12u "COM1"
  Pop $ComPortField
  nsDialogs::Show
FunctionEnd

Function ComPortLeave
  ${NSD_GetText} $ComPortField $ComPort
  ${If} $ComPort == ""
    MessageBox MB_OK "Enter the COM port of the recorder, for example COM5."
    Abort
  ${EndIf}
FunctionEnd

Function un.onInit
  !if ${ARCH} == "x64"
    SetRegView 64
  !endif
FunctionEnd

Section "korvel"
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}\korvel.exe"
  File "${STAGE}\korvel-cli.exe"
  File "${STAGE}\korvel.ico"
  File "${STAGE}\README.txt"
  ; The shortcut of every user of this machine.
  SetShellVarContext all
  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\korvel.exe" "" "$INSTDIR\korvel.ico" 0
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\korvel" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvel.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "korvel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Off unless chosen: a daily task of the installing user that downloads the recorder on the chosen port.
Section /o "Daily download"
  nsExec::ExecToLog 'schtasks /Create /F /SC DAILY /ST 12:00 /TN "korvel download" /TR "\"$INSTDIR\korvel-cli.exe\" download --port $ComPort"'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "The daily download task could not be created (schtasks ended with $0); create it in the Task Scheduler instead."
  ${EndIf}
SectionEnd

; The upload folder with the record files and the remembered settings (HKEY_CURRENT_USER) stay.
Section "Uninstall"
  SetShellVarContext all
  nsExec::ExecToLog 'schtasks /Delete /F /TN "korvel download"'
  Pop $0
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$INSTDIR\korvel.exe"
  Delete "$INSTDIR\korvel-cli.exe"
  Delete "$INSTDIR\korvel.ico"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\korvel"
SectionEnd
