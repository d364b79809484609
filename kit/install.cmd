@echo off
rem Registers the camera extension bin\vireoprop.ax with COM and the
rem kernel-streaming proxy, so that the camera offers IFace and the
rem "Camera Setting" page to every application. Run it from an elevated
rem prompt. Exit status 0 when registered, else the failure's code.
setlocal
set "AX=%~dp0bin\vireoprop.ax"
if not exist "%AX%" goto missing
regsvr32 /s "%AX%"
set RC=%ERRORLEVEL%
if not "%RC%"=="0" goto failed
echo install: vireoprop.ax registered
exit /b 0
:missing
echo install: %AX% is missing
exit /b 2
:failed
echo install: registering %AX% failed with code %RC%
exit /b %RC%
