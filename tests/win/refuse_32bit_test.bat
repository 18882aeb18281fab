@echo off
rem SPDX-License-Identifier: MIT
rem The x64 installer on a 32-bit Windows: refuses with exit code 2 and installs nothing.
rem   refuse_32bit_test.bat X64-SETUP.EXE
"%~1" /S
if not errorlevel 2 (echo FAIL: the x64 installer did not refuse a 32-bit Windows & exit /b 1)
if errorlevel 3 (echo FAIL: the x64 installer on a 32-bit Windows ended with %errorlevel%, not 2 & exit /b 1)
if exist "%ProgramFiles%\korvel" (echo FAIL: the refusing x64 installer made %ProgramFiles%\korvel & exit /b 1)
reg query "HKLM\Software\korvel" > nul 2>&1
if not errorlevel 1 (echo FAIL: the refusing x64 installer wrote Software\korvel & exit /b 1)
echo ok: the x64 installer refuses a 32-bit Windows (exit code 2), nothing installed
exit /b 0
