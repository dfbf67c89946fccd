@echo off
rem One table for the fleet, from the records that kurrelfix-run.cmd leaves
rem in a folder (Windows NT family, cmd only).
rem
rem   kurrelfix-report.cmd FOLDER [/DAYS N] [/EXPECT names.txt]
rem
rem Reads the last line of every <computer>.csv in FOLDER and writes
rem FOLDER\fleet.csv: one line per machine, its last run, sorted by verdict
rem (infected, failed, unfinished, cleaned, clean) then by computer name. It
rem prints the count of each verdict and the machines that need action. With
rem /DAYS N it also lists the machines whose last run ended more than N days
rem ago; with /EXPECT, a text file with one computer name a line, those that
rem never reported. It ends with 0 when nothing needs action, 1 when some
rem machine does, 9 when FOLDER is not given or is not there.
setlocal
set "FOLDER=%~1"
if "%FOLDER%"=="" goto usage
if not exist "%FOLDER%\" goto usage
if "%FOLDER:~-1%"=="\" set "FOLDER=%FOLDER:~0,-1%"
set DAYS=
set EXPECT=
:options
shift
if "%~1"=="" goto read
if /i "%~1"=="/DAYS" (
    set "DAYS=%~2"
    shift
    goto options
)
if /i "%~1"=="/EXPECT" (
    set "EXPECT=%~2"
    shift
    goto options
)
echo kurrelfix-report: unknown option %1
goto usage

:read
set "FLEET=%FOLDER%\fleet.csv"
set "WORK=%TEMP%\kurrelfix-report-%RANDOM%%RANDOM%"
mkdir "%WORK%" 2>nul
if not exist "%WORK%\" (
    echo kurrelfix-report: cannot make %WORK%
    exit /b 9
)
set TODAY=
if not "%DAYS%"=="" call :today
if not "%DAYS%"=="" if "%TODAY%"=="" echo kurrelfix-report: no clock to read ^(neither WMIC nor PowerShell^): /DAYS is not checked.
for %%V in (infected failed unfinished cleaned clean) do (
    type nul >"%WORK%\%%V.csv"
    type nul >"%WORK%\%%V.act"
    set COUNT_%%V=0
)
type nul >"%WORK%\old.txt"
type nul >"%WORK%\action.txt"
set MACHINES=0
rem DIR /ON sorts by name, so each verdict's lines come out by computer name.
for /f "delims=" %%F in ('dir /b /a-d /on "%FOLDER%\*.csv" 2^>nul') do if /i not "%%F"=="fleet.csv" call :record "%FOLDER%\%%F"

>"%FLEET%" echo computer,start,end,exit code,verdict,restart needed,removed now,removed at next boot,failed,shares not back,scanner left off,log
for %%V in (infected failed unfinished cleaned clean) do (
    type "%WORK%\%%V.csv" >>"%FLEET%"
    type "%WORK%\%%V.act" >>"%WORK%\action.txt"
)
echo Kurrelfix fleet report for %FOLDER%: %MACHINES% machines with a record
echo   infected    %COUNT_infected%
echo   failed      %COUNT_failed%
echo   unfinished  %COUNT_unfinished%
echo   cleaned     %COUNT_cleaned%
echo   clean       %COUNT_clean%
set ACTION=0
for %%A in ("%WORK%\action.txt") do if %%~zA GTR 0 set ACTION=1
if "%ACTION%"=="1" (
    echo Machines that need action:
    type "%WORK%\action.txt"
)
for %%A in ("%WORK%\old.txt") do if %%~zA GTR 0 (
    set ACTION=1
    echo Last run more than %DAYS% days ago:
    type "%WORK%\old.txt"
)
if not "%EXPECT%"=="" call :expected
echo Table: %FLEET%
rd /s /q "%WORK%" 2>nul
if "%ACTION%"=="1" exit /b 1
exit /b 0

:usage
echo Usage: kurrelfix-report.cmd FOLDER [/DAYS N] [/EXPECT names.txt]
echo FOLDER is the folder given to kurrelfix-run.cmd, which holds the records.
exit /b 9

rem One machine's record: its last line, split into fields. Empty fields are
rem kept: each field is quoted before the split.
:record
set REC=
for /f "usebackq skip=1 delims=" %%R in (%1) do set "REC=%%R"
if "%REC%"=="" goto :eof
set "LINE=%REC%"
set REC="%REC:,=","%"
set FIELD=0
for %%X in (%REC%) do call :field "%%~X"
set KNOWN=
for %%V in (infected failed unfinished cleaned clean) do if "%%V"=="%VERDICT%" set KNOWN=1
if not defined KNOWN goto :eof
set /a MACHINES+=1
set /a COUNT_%VERDICT%+=1
>>"%WORK%\%VERDICT%.csv" echo %LINE%
set NEED=
if "%VERDICT%"=="infected" set "NEED=%NEED%; still infected"
if "%VERDICT%"=="failed" set "NEED=%NEED%; some operations failed"
if "%VERDICT%"=="unfinished" set "NEED=%NEED%; no finished run"
if "%RESTART%"=="yes" set "NEED=%NEED%; restart needed"
if "%SHARES%"=="yes" set "NEED=%NEED%; shares not back"
if "%SCANNER%"=="yes" set "NEED=%NEED%; scanner left off"
if defined NEED >>"%WORK%\%VERDICT%.act" echo   %NAME%: %VERDICT%%NEED%, last run ended %END%
if "%TODAY%"=="" goto :eof
set ENDED=
call :daynumber "%END%"
if "%ENDED%"=="" goto :eof
set /a AGE=TODAY-ENDED
if %AGE% GTR %DAYS% >>"%WORK%\old.txt" echo   %NAME%: %AGE% days, last run ended %END%, %VERDICT%
goto :eof
:field
set /a FIELD+=1
if %FIELD%==1 set "NAME=%~1"
if %FIELD%==3 set "END=%~1"
if %FIELD%==5 set "VERDICT=%~1"
if %FIELD%==6 set "RESTART=%~1"
if %FIELD%==10 set "SHARES=%~1"
if %FIELD%==11 set "SCANNER=%~1"
goto :eof

rem The expected machines without a record of their own.
:expected
if not exist "%EXPECT%" (
    echo kurrelfix-report: the list %EXPECT% is not there
    set ACTION=1
    goto :eof
)
type nul >"%WORK%\never.txt"
for /f "usebackq delims=" %%N in ("%EXPECT%") do if not exist "%FOLDER%\%%N.csv" >>"%WORK%\never.txt" echo   %%N
for %%A in ("%WORK%\never.txt") do if %%~zA GTR 0 (
    set ACTION=1
    echo Expected machines that never reported:
    type "%WORK%\never.txt"
)
goto :eof

rem Days since a fixed date (the Julian day number) of a "YYYY-MM-DD ..."
rem text; the 1 prefixed and 100 taken off keep 08 and 09 from being read as
rem octal.
:daynumber
set "D=%~1"
if not defined D goto :eof
if "%D:~9,1%"=="" goto :eof
set /a Y=%D:~0,4%, M=1%D:~5,2%-100, DD=1%D:~8,2%-100
set /a A=(14-M)/12
set /a Y=Y+4800-A, M=M+12*A-3
set /a ENDED=DD+(153*M+2)/5+365*Y+Y/4-Y/100+Y/400-32045
goto :eof

:today
set NOW=
for /f "skip=1 delims=." %%T in ('wmic os get LocalDateTime 2^>nul') do if not defined NOW set "NOW=%%T"
if not defined NOW for /f %%T in ('powershell -NoProfile -Command "Get-Date -Format yyyyMMddHHmmss" 2^>nul') do set "NOW=%%T"
if defined NOW set "NOW=%NOW: =%"
if not defined NOW goto :eof
if "%NOW:~7,1%"=="" goto :eof
call :daynumber "%NOW:~0,4%-%NOW:~4,2%-%NOW:~6,2%"
set "TODAY=%ENDED%"
goto :eof
