@echo off
rem Cleans this workstation of the Kurrel worm without any message box, for a
rem logon or startup script or a remote-execution tool (Windows NT family).
rem
rem   kurrelfix-run.cmd [folder for the logs]
rem
rem Kurrelfix.exe is taken from this file's own folder, so both can lie on
rem one share. The tool's log stays in %windir%\Kurrelfix.log; with a folder
rem given, it is also copied there as <computer name>.log. This file ends with
rem the tool's exit code, so that the script or tool that started it sees it.
setlocal
set "TOOL=%~dp0Kurrelfix.exe"
if not exist "%TOOL%" (
    echo %COMPUTERNAME%: Kurrelfix.exe is not in %~dp0
    exit /b 9
)

"%TOOL%" /SILENT >nul

rem The exit code is read at once: in a .cmd file even SET resets it to 0.
rem "if errorlevel N" means N or higher, so the highest code comes first; a
rem negative code (the program was ended by a fault) is none of them.
if errorlevel 4 goto unknown
if errorlevel 3 goto errors
if errorlevel 2 goto active
if errorlevel 1 goto removed
if errorlevel 0 goto notfound
:unknown
set CODE=%ERRORLEVEL%
echo %COMPUTERNAME%: exit code %CODE%, Kurrelfix did not run to its end. See %windir%\Kurrelfix.log.
goto copylog
:notfound
set CODE=0
rem Without administrator rights the tool also ends with 0, having changed
rem nothing and logged only its version line; a run that went to its end
rem logs its exit code last.
set LAST=
if exist "%windir%\Kurrelfix.log" for /f "usebackq delims=" %%L in ("%windir%\Kurrelfix.log") do set "LAST=%%L"
if not "%LAST%"=="Kurrelfix tool exit code: 0" goto unfinished
echo %COMPUTERNAME%: exit code 0, Kurrel was not found. Nothing to do.
goto copylog
:unfinished
echo %COMPUTERNAME%: exit code 0, but the log does not show a finished run: most likely the tool lacked administrator rights and changed nothing. Run it as an administrator or from a startup script.
goto copylog
:removed
set CODE=1
echo %COMPUTERNAME%: exit code 1, Kurrel was found and removed. Restart the computer when you can: files that were in use are deleted then.
goto copylog
:active
set CODE=2
echo %COMPUTERNAME%: exit code 2, Kurrel is still active: something wrote its open command back. Disconnect the computer from the network, restart it and run the tool again.
goto copylog
:errors
set CODE=3
echo %COMPUTERNAME%: exit code 3, some cleaning operations failed. Restart the computer and run the tool again; see %windir%\Kurrelfix.log.

:copylog
echo %COMPUTERNAME%: log %windir%\Kurrelfix.log
if "%~1"=="" goto end
if not exist "%~1\" mkdir "%~1"
copy /y "%windir%\Kurrelfix.log" "%~1\%COMPUTERNAME%.log" >nul
if errorlevel 1 echo %COMPUTERNAME%: the log could not be copied to %~1
:end
exit /b %CODE%
