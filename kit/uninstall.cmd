@echo off
rem Removes the registration of the camera extension bin\vireoprop.ax.
rem Run it from an elevated prompt. Exit status 0 when unregistered, else
rem the failure's code.
setlocal
set "AX=%~dp0bin\vireoprop.ax"
if not exist "%AX%" goto missing
regsvr32 /s /u "%AX%"
set RC=%ERRORLEVEL%
if not "%RC%"=="0" goto failed
echo uninstall: vireoprop.ax unregistered
exit /b 0
:missing
echo uninstall: %AX% is missing
exit /b 2
:failed
echo uninstall: unregistering %AX% failed with code %RC%
exit /b %RC%
