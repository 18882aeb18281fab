; SPDX-License-Identifier: MIT
; The korvel installer for one architecture: the window and the command line, Start-menu shortcuts (the
; window, the overview of the records, the operator's guide when the tree has one), an uninstaller, and on
; request the daily download task of the operator. Simplified Chinese, English on a Windows whose user
; interface language is English. Made by makensis on the build machine (cmake --build --preset windows
; --target packages, with -INPUTCHARSET UTF8); defines: VERSION, ARCH (x64 or x86), STAGE (folder with the
; programs and korvel.ico; korvel-guide.html when there is one), OUTFILE.
;
; Silent (/S): /DAILY=COM3 also makes the daily task for the user logged on to the session. Exit codes:
; 0 installed, 2 this Windows cannot run this edition, 3 korvel is running (nothing installed), 4 installed
; but the daily task could not be made.
Unicode true
!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include Sections.nsh
!include x64.nsh
${StrStr}
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION | ARCH | STAGE | OUTFILE
  !error "VERSION, ARCH, STAGE and OUTFILE must be defined"
!endif

Name "korvel ${VERSION} (${ARCH})"
OutFile "${OUTFILE}"
!define MUI_ICON "${STAGE}\korvel.ico"
!define MUI_UNICON "${STAGE}\korvel.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!if ${ARCH} == "x64"
  InstallDir "$PROGRAMFILES64\korvel"
!else
  InstallDir "$PROGRAMFILES\korvel"
!endif
; The folder of an earlier installation (Software\korvel, InstallDir) is read in .onInit, after the
; registry view of the architecture is chosen: InstallDirRegKey would read the 32-bit view, where the
; x64 installer would find the x86 installation's folder.

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\korvel"
; x64 and x86 may be installed side by side: each has shortcuts and a name of its own, so that removing
; one leaves the other's shortcuts in place. The names of the report's and the guide's shortcuts follow
; the installer's language; the uninstaller removes either.
!if ${ARCH} == "x64"
  !define DISPLAY_NAME "korvel"
!else
  !define DISPLAY_NAME "korvel (x86)"
!endif
!define SHORTCUT "${DISPLAY_NAME}.lnk"
!define REPORT_ZH "${DISPLAY_NAME} 运行记录报告"
!define REPORT_EN "${DISPLAY_NAME} records report"
!define GUIDE_ZH "${DISPLAY_NAME} 操作指南"
!define GUIDE_EN "${DISPLAY_NAME} operator's guide"
; The operator's guide is installed when the source tree has one (CMake stages it).
!if /FileExists "${STAGE}\korvel-guide.html"
  !define HAVE_GUIDE
!endif

; korvel.exe holds this mutex while its window is open (wingui/main.cpp).
!define RUNNING_MUTEX "korvel-running"

Var ComPort
Var ComPortField
Var DailyFailed

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
Page custom ComPortPage ComPortLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one of every Windows whose user interface speaks neither.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

; Every text the installer shows, in both languages.
LangString SecMain ${LANG_SIMPCHINESE} "korvel 程序"
LangString SecMain ${LANG_ENGLISH} "korvel"
LangString DescMain ${LANG_SIMPCHINESE} "窗口 korvel.exe、命令行 korvel-cli.exe，以及开始菜单中的 korvel、运行记录报告和操作指南。"
LangString DescMain ${LANG_ENGLISH} "The window korvel.exe, the command line korvel-cli.exe, and korvel, the records report and the operator's guide in the Start menu."
LangString SecDaily ${LANG_SIMPCHINESE} "每日自动下载"
LangString SecDaily ${LANG_ENGLISH} "Daily download"
LangString DescDaily ${LANG_SIMPCHINESE} "每天 12:00 从记录仪下载新记录到当前登录的操作员的记录文件夹；电脑当时关机则在开机后补做，不显示窗口。"
LangString DescDaily ${LANG_ENGLISH} "Downloads the recorder's new records daily at 12:00 into the upload folder of the operator logged on now; a day the PC was off is made up once it is on. No window."
LangString PortTitle ${LANG_SIMPCHINESE} "每日自动下载"
LangString PortTitle ${LANG_ENGLISH} "Daily download"
LangString PortSubtitle ${LANG_SIMPCHINESE} "记录仪所在的 COM 端口"
LangString PortSubtitle ${LANG_ENGLISH} "The COM port of the recorder"
LangString PortText ${LANG_SIMPCHINESE} "每天 12:00（电脑当时关机则在开机后）从这个 COM 端口读取记录仪，存入当前登录这台电脑的操作员的记录文件夹（%USERPROFILE%\hollin.data\upload）。每次的结果写在该文件夹中的 korvel-daily.log，korvel 窗口的“检查记录…”会显示最近一次的结果。"
LangString PortText ${LANG_ENGLISH} "Daily at 12:00 (or once the PC is on, when it was off then) the recorder on this COM port is read into the upload folder of the operator logged on to this PC now (%USERPROFILE%\hollin.data\upload). Each run's result goes to korvel-daily.log in that folder; the korvel window's 检查记录… shows the last one."
LangString PortEmpty ${LANG_SIMPCHINESE} "请输入记录仪所在的 COM 端口，例如 COM5。"
LangString PortEmpty ${LANG_ENGLISH} "Enter the COM port of the recorder, for example COM5."
LangString MsgRunning ${LANG_SIMPCHINESE} "korvel 正在运行。请关闭所有 korvel 窗口，然后选择“重试”。"
LangString MsgRunning ${LANG_ENGLISH} "korvel is running. Close every korvel window, then choose Retry."
LangString Msg32Bit ${LANG_SIMPCHINESE} "这是 64 位的 korvel，而这台电脑的 Windows 是 32 位的。请改用 korvel-${VERSION}-x86-setup.exe 安装。"
LangString Msg32Bit ${LANG_ENGLISH} "This is the 64-bit korvel and this Windows is 32-bit. Install korvel-${VERSION}-x86-setup.exe instead."
LangString MsgTaskFailed ${LANG_SIMPCHINESE} "未能建立每日自动下载任务（korvel-cli 退出码 $0，原因见安装详细信息）。korvel 已安装。请让操作员登录后在命令提示符中运行：$\"$INSTDIR\korvel-cli.exe$\" daily --port $ComPort"
LangString MsgTaskFailed ${LANG_ENGLISH} "The daily download task could not be made (korvel-cli ended with $0; the reason is in the installation details). korvel is installed. Have the operator log on and run in a command prompt: $\"$INSTDIR\korvel-cli.exe$\" daily --port $ComPort"
LangString LnkReport ${LANG_SIMPCHINESE} "${REPORT_ZH}"
LangString LnkReport ${LANG_ENGLISH} "${REPORT_EN}"
LangString LnkGuide ${LANG_SIMPCHINESE} "${GUIDE_ZH}"
LangString LnkGuide ${LANG_ENGLISH} "${GUIDE_EN}"
LangString LnkReportTip ${LANG_SIMPCHINESE} "写出记录文件夹中全部设备的运行记录总览，并在浏览器中打开"
LangString LnkReportTip ${LANG_ENGLISH} "Writes the overview of every device in the upload folder and opens it in the browser"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "korvel"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "korvel 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "MIT License"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "korvel"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "korvel installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "MIT License"

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
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(MsgRunning)" /SD IDCANCEL IDCANCEL`
      SetErrorLevel 3
      Quit
    ${EndIf}
  ${Loop}
!macroend


Function un.onInit
  !if ${ARCH} == "x64"
    SetRegView 64
  !endif
  !insertmacro RefuseWhileRunning
FunctionEnd

Section "$(SecMain)" SecMain
  SectionIn RO
  ; korvel may have been started while the pages were shown.
  !insertmacro RefuseWhileRunning
  SetOutPath "$INSTDIR"
  File "${STAGE}\korvel.exe"
  File "${STAGE}\korvel-cli.exe"
  File "${STAGE}\korvel.ico"
  File "${STAGE}\README.txt"
  !ifdef HAVE_GUIDE
    File "${STAGE}\korvel-guide.html"
  !endif
  ; The shortcuts of every user of this machine. The report's runs korvel.exe without a window; it reads
  ; the upload folder of whoever starts it.
  SetShellVarContext all
  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\korvel.exe" "" "$INSTDIR\korvel.ico" 0
  Delete "$SMPROGRAMS\${REPORT_ZH}.lnk"
  Delete "$SMPROGRAMS\${REPORT_EN}.lnk"
  CreateShortCut "$SMPROGRAMS\$(LnkReport).lnk" "$INSTDIR\korvel.exe" "--overview" "$INSTDIR\korvel.ico" 0 \
    SW_SHOWNORMAL "" "$(LnkReportTip)"
  Delete "$SMPROGRAMS\${GUIDE_ZH}.lnk"
  Delete "$SMPROGRAMS\${GUIDE_EN}.lnk"
  !ifdef HAVE_GUIDE
    CreateShortCut "$SMPROGRAMS\$(LnkGuide).lnk" "$INSTDIR\korvel-guide.html"
  !endif
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

; Off unless chosen (or /DAILY=COMn): the daily task of the operator, the user logged on to this session
; (not the account whose password the elevation asked for), made by korvel-cli from one definition.
Section /o "$(SecDaily)" SecDaily
  nsExec::ExecToLog '"$INSTDIR\korvel-cli.exe" daily --port "$ComPort"'
  Pop $0
  ${If} $0 != 0
    StrCpy $DailyFailed 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(MsgTaskFailed)" /SD IDOK
  ${Else}
    ; Earlier versions made "korvel download" for the account that typed the administrator's password.
    nsExec::ExecToLog 'schtasks /Delete /F /TN "korvel download"'
    Pop $0
  ${EndIf}
SectionEnd

Function .onInit
  !if ${ARCH} == "x64"
    ${IfNot} ${RunningX64}
      MessageBox MB_OK|MB_ICONSTOP "$(Msg32Bit)" /SD IDOK
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
  ; /DAILY=COMn chooses the daily download (and its port) for a silent install, or fills in the page.
  StrCpy $ComPort "COM1"
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DAILY=" $R1
  ${IfNot} ${Errors}
    StrCpy $ComPort $R1
    !insertmacro SelectSection ${SecDaily}
  ${EndIf}
  !insertmacro RefuseWhileRunning
FunctionEnd

; Asked only when the daily download is chosen: the COM port the recorder is on.
Function ComPortPage
  ${IfNot} ${SectionIsSelected} ${SecDaily}
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "$(PortTitle)" "$(PortSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 48u "$(PortText)"
  Pop $0
  ${NSD_CreateText} 0 54u 60u 12u "$ComPort"
  Pop $ComPortField
  nsDialogs::Show
FunctionEnd

Function ComPortLeave
  ${NSD_GetText} $ComPortField $ComPort
  ${If} $ComPort == ""
    MessageBox MB_OK "$(PortEmpty)"
    Abort
  ${EndIf}
FunctionEnd

Function .onInstSuccess
  ${If} $DailyFailed == 1
    SetErrorLevel 4
  ${EndIf}
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "$(DescMain)"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDaily} "$(DescDaily)"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; The upload folder with the record files and the remembered settings (HKEY_CURRENT_USER) stay.
Section "Uninstall"
  SetShellVarContext all
  ; This edition's daily task; the other edition's stays.
  nsExec::ExecToLog '"$INSTDIR\korvel-cli.exe" daily --remove'
  Pop $0
  ; The task "korvel download" of earlier versions, which both editions shared, goes with the last of them.
  StrCpy $1 ""
  !if ${ARCH} == "x64"
    SetRegView 32
    ReadRegStr $1 HKLM "Software\korvel" "InstallDir"
    SetRegView 64
  !else
    ${If} ${RunningX64}
      SetRegView 64
      ReadRegStr $1 HKLM "Software\korvel" "InstallDir"
      SetRegView 32
    ${EndIf}
  !endif
  ${If} $1 == ""
    nsExec::ExecToLog 'schtasks /Delete /F /TN "korvel download"'
    Pop $0
  ${EndIf}
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$SMPROGRAMS\${REPORT_ZH}.lnk"
  Delete "$SMPROGRAMS\${REPORT_EN}.lnk"
  Delete "$SMPROGRAMS\${GUIDE_ZH}.lnk"
  Delete "$SMPROGRAMS\${GUIDE_EN}.lnk"
  Delete "$INSTDIR\korvel.exe"
  Delete "$INSTDIR\korvel-cli.exe"
  Delete "$INSTDIR\korvel.ico"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\korvel-guide.html"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\korvel"
SectionEnd
