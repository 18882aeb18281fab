@echo off
rem SPDX-License-Identifier: MIT
rem An upgrade under Wine: the installer run again over an installation in a folder of the user's choice.
rem The version number plays no part in where an upgrade goes or what it replaces (the folder comes from
rem Software\korvel, InstallDir, which every version writes), so the same installer stands for both
rem versions; what an earlier version leaves behind is made by hand: its files (README.txt stands for
rem them), the x86 shortcut under its old name korvel.lnk, a record file and the settings.
rem   upgrade_test.bat SETUP.EXE HOLD_RUNNING.EXE x64|x86 FOLDER
setlocal
set "setup=%~1"
set "hold=%~2"
set "dir=%~4"
set "default=%ProgramFiles%\korvel"
rem The x86 edition goes to the 32-bit Program Files folder of a 64-bit Windows.
if "%~3"=="x86" if exist "%SystemRoot%\SysWOW64" set "default=%ProgramFiles(x86)%\korvel"
set "menu=%ProgramData%\Microsoft\Windows\Start Menu\Programs"
set "upload=%USERPROFILE%\hollin.data\upload"
set "settings=HKCU\Software\Local AppWizard-Generated Applications\korvel\Settings"

"%setup%" /S /D=%dir%
if %errorlevel% neq 0 (echo FAIL: installing into the chosen folder ended with %errorlevel% & exit /b 1)
if not exist "%dir%\korvel.exe" (echo FAIL: korvel.exe not installed into the chosen folder & exit /b 1)
echo earlier version> "%dir%\README.txt"
if "%~3"=="x86" copy "%menu%\korvel (x86).lnk" "%menu%\korvel.lnk" > nul
reg add "%settings%" /v Baud /t REG_DWORD /d 5 /f > nul
mkdir "%upload%"
echo 2022-07-30 10:15:42+08:00 125 0123 cba8> "%upload%\220730-102005-123-7b.txt"

rem While korvel runs, the installer and the uninstaller refuse (exit code 3) and change nothing.
"%hold%" "%setup%" /S
if %errorlevel% neq 3 (echo FAIL: the upgrade while korvel runs ended with %errorlevel%, not 3 & exit /b 1)
set "first="
set /p first=< "%dir%\README.txt"
if not "%first%"=="earlier version" (echo FAIL: the refused upgrade replaced files & exit /b 1)
"%hold%" "%dir%\uninstall.exe" /S _?=%dir%
if %errorlevel% neq 3 (echo FAIL: uninstalling while korvel runs ended with %errorlevel%, not 3 & exit /b 1)
if not exist "%dir%\korvel.exe" (echo FAIL: the refused uninstall removed korvel.exe & exit /b 1)

rem The upgrade names no folder: it goes into the chosen one and replaces the files there.
"%setup%" /S
if %errorlevel% neq 0 (echo FAIL: the upgrade ended with %errorlevel% & exit /b 1)
if exist "%default%\korvel.exe" (echo FAIL: the upgrade went to %default%, not to the chosen folder & exit /b 1)
set "first="
set /p first=< "%dir%\README.txt"
if "%first%"=="earlier version" (echo FAIL: the upgrade left the earlier version's files & exit /b 1)
if not exist "%dir%\korvel-cli.exe" (echo FAIL: korvel-cli.exe gone after the upgrade & exit /b 1)
if "%~3"=="x86" if exist "%menu%\korvel.lnk" (echo FAIL: the earlier x86 shortcut korvel.lnk stayed & exit /b 1)
if "%~3"=="x86" if not exist "%menu%\korvel (x86).lnk" (echo FAIL: no x86 shortcut after the upgrade & exit /b 1)
if not exist "%upload%\220730-102005-123-7b.txt" (echo FAIL: the upgrade took the record file & exit /b 1)
reg query "%settings%" /v Baud > nul
if errorlevel 1 (echo FAIL: the upgrade took the settings & exit /b 1)
echo ok: %~3 upgrade into the chosen folder; refused while korvel runs; records and settings kept
exit /b 0
