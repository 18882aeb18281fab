; SPDX-License-Identifier: MIT
; The korvel installer for one architecture: the window and the command line, a Start-menu shortcut and an
; uninstaller. Made by makensis on the build machine (cmake --build --preset windows --target installer);
; defines: VERSION, ARCH (x64 or x86), STAGE (folder with the programs and korvel.ico), OUTFILE.
Unicode true
!include nsDialogs.nsh
!include LogicLib.nsh
!include StrFunc.nsh
!include x64.nsh
${StrStr}
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
; The folder of an earlier installation (Software\korvel, InstallDir) is read in .onInit, after the
; registry view of the architecture is chosen: InstallDirRegKey would read the 32-bit view, where the
; x64 installer would find the x86 installation's folder.
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

; korvel.exe holds this mutex while its window is open (wingui/main.cpp).
!define RUNNING_MUTEX "korvel-running"

Var ComPort
Var ComPortField

Page components
Page directory
Page custom ComPortPage ComPortLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Exit codes of a silent run (/S) that installs nothing: 2 this Windows cannot run this edition,
; 3 korvel is running (nothing waits for it: a silent install is run by a script or a deployment
; tool, which would hang unseen; it can retry later).
!macro RefuseWhileRunning
  ${Do}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p .r0'
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "korvel is running. Close every korvel window, then choose Retry." /SD IDCANCEL IDCANCEL`
      SetErrorLevel 3
      Quit
    ${EndIf}
  ${Loop}
!macroend

Function .onInit
  !if ${ARCH} == "x64"
    ${IfNot} ${RunningX64}
      MessageBox MB_OK|MB_ICONSTOP "This is the 64-bit korvel and this Windows is 32-bit. Install korvel-${VERSION}-x86-setup.exe instead." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    SetRegView 64
  !endif
  ; An upgrade goes where the earlier version is, unless the command line names a folder (/D=).
  System::Call 'kernel32::GetCommandLineW() w .r0'
  ${StrStr} $1 $0 " /D="
  ${If} $1 == ""
    ReadRegStr $0 HKLM "Software\korvel" "InstallDir"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
  !insertmacro RefuseWhileRunning
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
  !insertmacro RefuseWhileRunning
FunctionEnd

Section "korvel"
  SectionIn RO
  ; korvel may have been started while the pages were shown.
  !insertmacro RefuseWhileRunning
  SetOutPath "$INSTDIR"
  File "${STAGE}\korvel.exe"
  File "${STAGE}\korvel-cli.exe"
  File "${STAGE}\korvel.ico"
  File "${STAGE}\README.txt"
  ; The shortcut of every user of this machine.
  SetShellVarContext all
  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\korvel.exe" "" "$INSTDIR\korvel.ico" 0
  !if ${ARCH} == "x86"
    ; Earlier versions named the x86 shortcut korvel.lnk, now the x64 one's name: on an upgrade it goes
    ; unless an x64 korvel is installed.
    StrCpy $0 ""
    ${If} ${RunningX64}
      SetRegView 64
      ReadRegStr $0 HKLM "Software\korvel" "InstallDir"
      SetRegView 32
    ${EndIf}
    ${If} $0 == ""
      Delete "$SMPROGRAMS\korvel.lnk"
    ${EndIf}
  !endif
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
