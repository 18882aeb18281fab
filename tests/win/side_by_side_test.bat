@echo off
rem SPDX-License-Identifier: MIT
rem x64 and x86 side by side under Wine: each installs its own programs, shortcut and uninstall entry;
rem removing the x86 one leaves the x64 one whole, its daily task included.
rem side_by_side_test.bat X64-SETUP.EXE X86-SETUP.EXE
set "menu=%ProgramData%\Microsoft\Windows\Start Menu\Programs"
set "tasks=%SystemRoot%\system32\tasks"
"%~1" /S /DAILY=COM5
"%~2" /S /DAILY=COM6
if not exist "%tasks%\korvel daily download (x64)" (echo FAIL: no x64 daily task & exit /b 1)
if not exist "%tasks%\korvel daily download (x86)" (echo FAIL: no x86 daily task & exit /b 1)
if not exist "%ProgramFiles%\korvel\korvel.exe" (echo FAIL: x64 korvel.exe not installed & exit /b 1)
if not exist "%ProgramFiles(x86)%\korvel\korvel.exe" (echo FAIL: x86 korvel.exe not installed & exit /b 1)
if not exist "%menu%\korvel.lnk" (echo FAIL: no x64 shortcut & exit /b 1)
if not exist "%menu%\korvel (x86).lnk" (echo FAIL: no x86 shortcut & exit /b 1)
"%ProgramFiles(x86)%\korvel\uninstall.exe" /S _?=%ProgramFiles(x86)%\korvel
if exist "%ProgramFiles(x86)%\korvel\korvel.exe" (echo FAIL: x86 korvel.exe left after uninstalling & exit /b 1)
if exist "%menu%\korvel (x86).lnk" (echo FAIL: x86 shortcut left & exit /b 1)
if not exist "%menu%\korvel.lnk" (echo FAIL: removing x86 took the x64 shortcut & exit /b 1)
if exist "%menu%\korvel (x86) records report.lnk" (echo FAIL: x86 report shortcut left & exit /b 1)
if not exist "%menu%\korvel records report.lnk" (echo FAIL: removing x86 took the x64 report shortcut & exit /b 1)
if exist "%tasks%\korvel daily download (x86)" (echo FAIL: x86 daily task left & exit /b 1)
if not exist "%tasks%\korvel daily download (x64)" (echo FAIL: removing x86 took the x64 daily task & exit /b 1)
if not exist "%ProgramFiles%\korvel\korvel.exe" (echo FAIL: removing x86 took the x64 programs & exit /b 1)
echo ok: x64 and x86 side by side, each with its own shortcuts and daily task
exit /b 0
