@echo off
rem SPDX-License-Identifier: MIT
rem The installer under Wine: installs silently, then the uninstaller removes the programs and the
rem shortcut but leaves the record files and the settings.  installer_test.bat SETUP.EXE x64|x86
rem The x86 installer puts the programs in the 32-bit Program Files folder of a 64-bit Windows.
rem With /DAILY=COM5 it also makes the daily task of the session's user, which the uninstaller removes.
rem Wine's user interface speaks English here, so the report's shortcut has its English name.
set "dir=%ProgramFiles%\korvel"
set "menu=%ProgramData%\Microsoft\Windows\Start Menu\Programs"
set "base=korvel"
if "%~2"=="x86" set "dir=%ProgramFiles(x86)%\korvel"
if "%~2"=="x86" set "base=korvel (x86)"
set "lnk=%menu%\%base%.lnk"
set "task=%SystemRoot%\system32\tasks\korvel daily download (%~2)"
"%~1" /S /DAILY=COM5
if errorlevel 1 (echo FAIL: the silent install with /DAILY=COM5 ended with %errorlevel% & exit /b 1)
if not exist "%dir%\korvel.exe" (echo FAIL: korvel.exe not installed & exit /b 1)
if not exist "%dir%\korvel-cli.exe" (echo FAIL: korvel-cli.exe not installed & exit /b 1)
if not exist "%lnk%" (echo FAIL: no Start-menu shortcut & exit /b 1)
if not exist "%menu%\%base% records report.lnk" (echo FAIL: no records report shortcut & exit /b 1)
if not exist "%task%" (echo FAIL: /DAILY=COM5 made no daily task & exit /b 1)
"%dir%\korvel-cli.exe" ports > nul
if errorlevel 1 (echo FAIL: the installed korvel-cli.exe does not run & exit /b 1)
reg add "HKCU\Software\Local AppWizard-Generated Applications\korvel\Settings" /v Baud /t REG_DWORD /d 5 /f > nul
mkdir "%USERPROFILE%\hollin.data\upload"
echo 2022-07-30 10:15:42+08:00 125 0123 cba8> "%USERPROFILE%\hollin.data\upload\220730-102005-123-7b.txt"
"%dir%\uninstall.exe" /S _?=%dir%
if exist "%dir%\korvel.exe" (echo FAIL: korvel.exe left after uninstalling & exit /b 1)
if exist "%lnk%" (echo FAIL: shortcut left & exit /b 1)
if exist "%menu%\%base% records report.lnk" (echo FAIL: records report shortcut left & exit /b 1)
if exist "%task%" (echo FAIL: the daily task was left & exit /b 1)
if not exist "%USERPROFILE%\hollin.data\upload\220730-102005-123-7b.txt" (echo FAIL: the record file went & exit /b 1)
reg query "HKCU\Software\Local AppWizard-Generated Applications\korvel\Settings" /v Baud > nul
if errorlevel 1 (echo FAIL: the settings went & exit /b 1)
echo ok: installed with the daily task, ran, uninstalled; record files and settings kept
exit /b 0
