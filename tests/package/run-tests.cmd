@echo off
rem Runs every test program of this package, one after another, each with
rem GoogleTest's XML report in results\, and closes with "N passed, M failed".
rem Exit status: 0 all passed; 1 a test failed (each named above the closing
rem line); 2 not elevated, or a key of the camera module or the simulated
rem camera was there before the run (the tests would undo it). The tests
rem register vireoprop.ax and simcam.ax and unregister them again; the end
rem checks that no key of either is left.
rem Arguments go to every test program (e.g. --gtest_filter=Page*).
setlocal EnableExtensions EnableDelayedExpansion
set "HERE=%~dp0"
cd /d "%HERE%"

rem The registry tests write HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE: probe
rem a key of the machine's own.
set "PROBE=HKLM\Software\Vireo Tests Elevation Probe"
reg add "%PROBE%" /f >nul 2>&1
if errorlevel 1 (
  echo run-tests: this needs an elevated prompt ^(Run as administrator^): the tests
  echo run-tests: register modules under HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE.
  exit /b 2
)
reg delete "%PROBE%" /f >nul 2>&1

call :leftovers
if defined LEFT (
  echo run-tests: already registered on this machine:!LEFT!
  echo run-tests: unregister the kit ^(uninstall.cmd^) or the simulated camera first.
  exit /b 2
)

set "RESULTS=%~dp0results"
if exist "%RESULTS%" rmdir /s /q "%RESULTS%"
mkdir "%RESULTS%"
set /a PASSED=0, FAILED=0, SKIPPED=0
set "FAILURES="
set "AGAIN="
set ARGS=%*
for /f "usebackq delims=" %%t in ("tests.txt") do call :run %%t

call :leftovers
if defined LEFT (
  echo run-tests: left registered after the run:!LEFT!
  set /a FAILED+=1
  set "FAILURES=!FAILURES! registry-left-clean"
)
if defined AGAIN echo run-tests: passed when run again:!AGAIN!
rem (%FAILURES%, not !FAILURES!: Wine's "for" splits a delayed value into no words.)
if defined FAILURES for %%f in (%FAILURES%) do echo run-tests: FAILED %%f
if !SKIPPED! gtr 0 (
  echo !PASSED! passed, !FAILED! failed, !SKIPPED! skipped
) else (
  echo !PASSED! passed, !FAILED! failed
)
if !FAILED! gtr 0 exit /b 1
exit /b 0

rem :run NAME: one test program; its console output in results\NAME.txt.
rem A program with a failed case runs once more, whole (a process that fails
rem to start now and then fails a case under Wine); a case counts as failed
rem when it fails both runs; the first run's output stays as NAME.first.*.
:run
set "T=%~1"
echo run-tests: %T%
call :program
if !BAD! equ 0 goto tally
set "FIRST=!RUNFAIL!"
move /y "%RESULTS%\%T%.txt" "%RESULTS%\%T%.first.txt" >nul
move /y "%RESULTS%\%T%.xml" "%RESULTS%\%T%.first.xml" >nul 2>&1
echo run-tests: %T% again, after:!FIRST!
call :program
if !BAD! equ 0 set "AGAIN=!AGAIN!!FIRST!"
:tally
set "FAILURES=!FAILURES!!RUNFAIL!"
set /a PASSED+=OK, FAILED+=BAD, SKIPPED+=SKIP
exit /b 0

rem :program: runs %T% once; OK, BAD and SKIP count its cases, RUNFAIL names
rem the failed ones.
:program
"%HERE%%T%.exe" --gtest_output=xml:"%RESULTS%\%T%.xml" %ARGS% >"%RESULTS%\%T%.txt" 2>&1
set RC=!ERRORLEVEL!
set /a OK=0, BAD=0, SKIP=0
set "RUNFAIL="
rem Each case ends with "[       OK ] Suite.Case (12 ms)", "[  FAILED  ] ..."
rem or "[  SKIPPED ] ..."; the summary's lines that name them again carry no
rem time. (find, not findstr: Wine's findstr matches nothing here.)
for /f "usebackq tokens=1-4,*" %%a in (`type "%RESULTS%\%T%.txt" ^| find " ms)"`) do (
  call :case "%%a%%c" "%%b" "%%d"
)
rem A program that ends with a failure but names no failed case crashed, or
rem a case never ended; one that ran no case (with no filter given) is broken.
if !RC! neq 0 if !BAD! equ 0 (
  set "RUNFAIL=!RUNFAIL! %T%:exit-code-!RC!"
  set /a BAD+=1
)
if not defined ARGS if !OK! equ 0 if !BAD! equ 0 if !SKIP! equ 0 (
  set "RUNFAIL=!RUNFAIL! %T%:no-test-ran"
  set /a BAD+=1
)
exit /b 0

rem :case "[]" OUTCOME NAME: one line of a program's output that ended a case.
rem (Called per line: Wine's cmd mixes up an "if" block that follows another
rem "if" inside a "for" body.)
:case
if not "%~1"=="[]" exit /b 0
if "%~2"=="OK" set /a OK+=1
if "%~2"=="SKIPPED" set /a SKIP+=1
if not "%~2"=="FAILED" exit /b 0
set "NAME=%~3"
if "%NAME:~-1%"=="," set "NAME=%NAME:~0,-1%"
set "RUNFAIL=%RUNFAIL% %T%:%NAME%"
set /a BAD+=1
exit /b 0

rem :leftovers: LEFT names every key of the camera module (the handler, the
rem page, its proxy entries) and of the simulated camera (both devices, their
rem device-category entries) present in either registry view, and the
rem platform's sample grabber when a test left it pointing at another module.
:leftovers
set "LEFT="
set "HANDLER={04F2A42A-479F-4511-8F03-1CE31876DBCC}"
set "PAGE={04FDFB8E-EC1E-44E6-B36E-5877D11903D5}"
set "SIM1={D0AF50DC-6191-401C-AD58-C7AED26E8597}"
set "SIM2={6B1E2D3A-44F7-4C0B-9E52-8A1D3C7F0B64}"
set "VIDEO={860BB310-5D01-11D0-BD3B-00A0C911CE86}"
set "GRABBER={C1F400A0-3F08-11D3-9F0B-006008039E37}"
set "CONTROL=HKLM\System\CurrentControlSet\Control"
rem (Each result is read with "if errorlevel": Wine's cmd runs the right side
rem of "&&" after a failure too.)
for %%v in (64 32) do (
  for %%k in ("HKLM\Software\Classes\CLSID\%HANDLER%" "HKLM\Software\Classes\CLSID\%PAGE%"
              "HKLM\Software\Classes\CLSID\%SIM1%" "HKLM\Software\Classes\CLSID\%SIM2%"
              "HKLM\Software\Classes\CLSID\%VIDEO%\Instance\%SIM1%"
              "HKLM\Software\Classes\CLSID\%VIDEO%\Instance\%SIM2%"
              "%CONTROL%\MediaInterfaces\%HANDLER%" "%CONTROL%\MediaSets\%HANDLER%") do (
    reg query %%k /reg:%%v >nul 2>&1
    if not errorlevel 1 set "LEFT=!LEFT! %%~k(%%v-bit)"
  )
  reg query "HKLM\Software\Classes\CLSID\%GRABBER%\InprocServer32" /ve /reg:%%v 2>nul | find /i "grabspy" >nul
  if not errorlevel 1 set "LEFT=!LEFT! %GRABBER%\InprocServer32=grabspy.dll(%%v-bit)"
)
exit /b 0
