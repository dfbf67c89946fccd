@echo off
rem Cleans this workstation of the Kurrel worm without any message box, for a
rem startup script or a remote-execution tool (Windows NT family only).
rem
rem   kurrelfix-run.cmd [/ONCE] [folder for the records]
rem
rem Kurrelfix.exe is taken from this file's own folder, so both can lie on
rem one share. The tool's log stays in %windir%\Kurrelfix.log. With a folder
rem given, each run adds one line to <computer>.csv there and copies this
rem run's log lines beside it as <computer>-<date>-<time>.log; with /ONCE a
rem machine whose last record says clean, or cleaned with nothing pending,
rem is not swept again. This file ends with the tool's exit code when the log
rem shows the run's end, 8 when it does not, 9 when Kurrelfix.exe is missing.
setlocal
set ONCE=
if /i "%~1"=="/ONCE" (
    set ONCE=1
    shift
)
set "FOLDER=%~1"
set "TOOL=%~dp0Kurrelfix.exe"
set "LOG=%windir%\Kurrelfix.log"
set "CSV=%FOLDER%\%COMPUTERNAME%.csv"
if not "%FOLDER%"=="" if not exist "%FOLDER%\" mkdir "%FOLDER%"
if not "%FOLDER%"=="" if defined ONCE if exist "%CSV%" call :lastrecord
if defined SKIP (
    echo %COMPUTERNAME%: skipped: its last run, ended %LASTEND%, found it %LASTVERDICT% with nothing pending. Run without /ONCE to sweep it again.
    exit /b 0
)

rem The log's lines before this run, so that only this run's lines are read
rem afterwards: a run that could not write the log adds none, and an earlier
rem run's exit code line is never taken for this one's.
set BEFORE=0
if exist "%LOG%" if not exist "%LOG%\*" (for /f "usebackq delims=" %%L in ("%LOG%") do set /a BEFORE+=1) 2>nul
set SKIPPED=
if %BEFORE% GTR 0 set "SKIPPED=skip=%BEFORE% "
set FINAL=
set NOW_REMOVED=0
set BOOT_REMOVED=0
set FAILED=0
set SCANNER=
call :now
set "START=%STAMP%"
set "RUNLOGNAME=%COMPUTERNAME%-%FILESTAMP%.log"
set "RUNLOG=%FOLDER%\%COMPUTERNAME%-%FILESTAMP%.log"

if not exist "%TOOL%" (
    echo %COMPUTERNAME%: Kurrelfix.exe is not in %~dp0
    set CODE=9
    set VERDICT=unfinished
    set END=%START%
    set RUNLOGNAME=
    goto record
)
"%TOOL%" /SILENT >nul
set CODE=%ERRORLEVEL%
call :now
set "END=%STAMP%"

rem This run's lines, counted and copied. The tool writes its exit code line
rem last; without it the run did not reach its end (no administrator rights,
rem a log that could not be written, a crash), whatever its exit code says.
if not "%FOLDER%"=="" type nul >"%RUNLOG%" 2>nul
if exist "%LOG%" if not exist "%LOG%\*" (for /f "usebackq %SKIPPED%delims=" %%L in ("%LOG%") do (
    set "TEXT=%%L"
    call :oneline
    if not "%FOLDER%"=="" >>"%RUNLOG%" echo.%%L
)) 2>nul

if not "%FINAL%"=="%CODE%" goto unfinished
if "%CODE%"=="0" goto notfound
if "%CODE%"=="1" goto removed
if "%CODE%"=="2" goto active
if "%CODE%"=="3" goto errors
:unfinished
set VERDICT=unfinished
echo %COMPUTERNAME%: exit code %CODE%, but the log does not show this run's end: most likely the tool lacked administrator rights, could not write %LOG% or was ended. Run it as an administrator or from a startup script.
goto record
:notfound
set VERDICT=clean
echo %COMPUTERNAME%: exit code 0, Kurrel was not found. Nothing to do.
goto record
:removed
set VERDICT=cleaned
if %BOOT_REMOVED% GTR 0 (
    echo %COMPUTERNAME%: exit code 1, Kurrel was found and removed. Restart the computer: %BOOT_REMOVED% copies in use are deleted then.
) else (
    echo %COMPUTERNAME%: exit code 1, Kurrel was found and removed. No restart is needed.
)
goto record
:active
set VERDICT=infected
echo %COMPUTERNAME%: exit code 2, Kurrel is still active: something wrote its open command back. Disconnect the computer from the network, restart it and run the tool again.
goto record
:errors
set VERDICT=failed
echo %COMPUTERNAME%: exit code 3, some cleaning operations failed. Restart the computer and run the tool again; see %LOG%.

:record
set RESTART=no
if %BOOT_REMOVED% GTR 0 set RESTART=yes
rem The journal stays only while a share it holds is not back on the network.
set SHARES=no
if exist "%windir%\Kurrelfix-shares.jnl" set SHARES=yes
if "%SHARES%"=="yes" echo %COMPUTERNAME%: shares are not all back on the network: %windir%\Kurrelfix-shares.jnl holds them; the next run re-creates them.
if "%SCANNER%"=="yes" echo %COMPUTERNAME%: the scanner was not switched back on; see %LOG%.
echo %COMPUTERNAME%: log %LOG%
set RESULT=8
if not "%VERDICT%"=="unfinished" set RESULT=%CODE%
if "%CODE%"=="9" if not exist "%TOOL%" set RESULT=9
if "%FOLDER%"=="" exit /b %RESULT%
if not exist "%CSV%" >"%CSV%" echo computer,start,end,exit code,verdict,restart needed,removed now,removed at next boot,failed,shares not back,scanner left off,log
rem A write that failed is told by the record not growing.
set SIZE=0
if exist "%CSV%" for %%A in ("%CSV%") do set SIZE=%%~zA
>>"%CSV%" echo %COMPUTERNAME%,%START%,%END%,%CODE%,%VERDICT%,%RESTART%,%NOW_REMOVED%,%BOOT_REMOVED%,%FAILED%,%SHARES%,%SCANNER%,%RUNLOGNAME%
set GROWN=0
if exist "%CSV%" for %%A in ("%CSV%") do set GROWN=%%~zA
if %GROWN% LEQ %SIZE% echo %COMPUTERNAME%: the record could not be written to %CSV%
exit /b %RESULT%

rem One line of this run. Only fixed-length heads of the tool's own texts are
rem compared, so that a path with & in it is never read as a command.
:oneline
if "%TEXT:~0,26%"=="Kurrelfix tool exit code: " set "FINAL=%TEXT:~26%"
if "%TEXT:~0,28%"=="Scanner not switched back on" set SCANNER=yes
if not "%TEXT:~0,14%"=="Deleting file " goto :eof
if "%TEXT:~-8%"=="result=1" set /a NOW_REMOVED+=1
if "%TEXT:~-8%"=="result=2" set /a BOOT_REMOVED+=1
if "%TEXT:~-8%"=="result=3" set /a FAILED+=1
if "%TEXT:~-8%"=="result=4" set /a FAILED+=1
goto :eof

rem The last record's verdict: clean, or cleaned without a restart, a failure,
rem a share or the scanner pending, lets /ONCE skip this machine.
:lastrecord
set LASTREC=
for /f "usebackq skip=1 delims=" %%R in ("%CSV%") do set "LASTREC=%%R"
if "%LASTREC%"=="" goto :eof
rem Empty fields are kept: each field is quoted before the split.
set LASTREC="%LASTREC:,=","%"
set FIELD=0
for %%F in (%LASTREC%) do call :lastfield "%%~F"
if "%LASTVERDICT%"=="clean" if "%LASTPENDING%"=="no,0,no," set SKIP=1
if "%LASTVERDICT%"=="cleaned" if "%LASTPENDING%"=="no,0,no," set SKIP=1
goto :eof
:lastfield
set /a FIELD+=1
if %FIELD%==3 set "LASTEND=%~1"
if %FIELD%==5 set "LASTVERDICT=%~1"
if %FIELD%==6 set "LASTPENDING=%~1"
if %FIELD%==9 set "LASTPENDING=%LASTPENDING%,%~1"
if %FIELD%==10 set "LASTPENDING=%LASTPENDING%,%~1"
if %FIELD%==11 set "LASTPENDING=%LASTPENDING%,%~1"
goto :eof

rem The local time as YYYY-MM-DD hh:mm:ss, whatever the machine's date
rem format (%DATE% follows the locale): from WMIC, or from PowerShell where
rem WMIC is gone. Without either the time stays empty.
:now
set NOW=
for /f "skip=1 delims=." %%T in ('wmic os get LocalDateTime 2^>nul') do if not defined NOW set "NOW=%%T"
if not defined NOW for /f %%T in ('powershell -NoProfile -Command "Get-Date -Format yyyyMMddHHmmss" 2^>nul') do set "NOW=%%T"
if defined NOW set "NOW=%NOW: =%"
set STAMP=
set FILESTAMP=run
if not defined NOW goto :eof
if "%NOW:~13,1%"=="" goto :eof
set "STAMP=%NOW:~0,4%-%NOW:~4,2%-%NOW:~6,2% %NOW:~8,2%:%NOW:~10,2%:%NOW:~12,2%"
set "FILESTAMP=%NOW:~0,8%-%NOW:~8,6%"
goto :eof
