@echo off
rem One table for the fleet, from the records that kurrelfix-run.cmd leaves
rem in a folder (Windows NT family, cmd only).
rem
rem   kurrelfix-report.cmd FOLDER [/DAYS N] [/EXPECT names.txt]
rem
rem Reads the last line of every <computer>.csv in FOLDER and writes
rem FOLDER\fleet.csv: one line per machine, its last run, sorted by verdict
rem (infected, failed, unfinished, cleaned, clean) then by computer name. It
rem prints the count of each verdict and the machines that need action. A
rem record whose last line is not a line of that machine as kurrelfix-run.cmd
rem writes it is named and counted apart as malformed, and left out of the
rem table. With /DAYS N it also lists the machines whose last run ended more
rem than N days ago; with /EXPECT, a text file with one computer name a line,
rem those that never reported. It ends with 0 when nothing needs action, 1
rem when some machine or record does, 9 when FOLDER is not given or is not
rem there.
rem
rem Every computer may write the folder, so the records' names and lines are
rem text from outside, which cmd must never parse. Windows' cmd parses a
rem line in this order: percent expansion, then the special characters
rem (" & | < > ( ) ^) with the split into commands, redirections and tokens,
rem then FOR-variable substitution, then delayed expansion, and then it runs
rem the command. Such text therefore reaches a command only as a FOR variable
rem (%%F, %%r), which comes in after the line was split and percent expansion
rem was over, with delayed expansion off so that its ! stays too; and only
rem in set "NAME=%%x", echo/%%x into a file, or copy. It is never expanded
rem as %VAR%, never given to call (which parses its arguments again), never
rem compared by if (Wine's cmd puts the text into the line before it parses
rem an if). Only a name and a line that hold nothing but the characters the
rem batch writes there are looked at further (see the record reader below).
setlocal DisableDelayedExpansion
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
if exist "%WORK%" (
    echo kurrelfix-report: %WORK% is there already
    exit /b 9
)
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
type nul >"%WORK%\malformed.txt"
set MACHINES=0
set MALFORMED=0
rem DIR /ON sorts by name, so each verdict's lines come out by computer name.
dir /b /a-d /on "%FOLDER%\*.csv" >"%WORK%\names.txt" 2>nul
for /f "usebackq eol=| delims=" %%F in ("%WORK%\names.txt") do (
    set "RECFULL=%%F"
    >"%WORK%\name.txt" echo/%%F
    if exist "%WORK%\record.csv" del "%WORK%\record.csv"
    copy /b "%FOLDER%\%%F" "%WORK%\record.csv" >nul 2>nul
    call :record
)

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
echo   malformed   %MALFORMED%
set ACTION=0
for %%A in ("%WORK%\action.txt") do if %%~zA GTR 0 set ACTION=1
if "%ACTION%"=="1" (
    echo Machines that need action:
    type "%WORK%\action.txt"
)
set SIZE=0
for %%A in ("%WORK%\old.txt") do set SIZE=%%~zA
if %SIZE% GTR 0 (
    set ACTION=1
    echo Last run more than %DAYS% days ago:
    type "%WORK%\old.txt"
)
if %MALFORMED% GTR 0 (
    set ACTION=1
    echo Records not in the form kurrelfix-run.cmd writes, left out of the table:
    type "%WORK%\malformed.txt"
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

rem One record: WORK\name.txt holds its file's name, RECFULL the same name,
rem WORK\record.csv a copy of it. fleet.csv is the table, not a record; any
rem other name must be <computer>.csv with a computer name, and the record's
rem last line that computer's, as the record reader below has it.
:record
set KV=
set RECBAD=
set RECNAME=
set RECEXT=
set RECMORE=
for /f "usebackq eol=| delims=-_.0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ" %%z in ("%WORK%\name.txt") do set "RECBAD=%%z"
if defined RECBAD goto malformed
for /f "usebackq eol=| tokens=1-3 delims=." %%a in ("%WORK%\name.txt") do (
    set "RECNAME=%%a"
    set "RECEXT=%%b"
    set "RECMORE=%%c"
)
setlocal EnableDelayedExpansion
if /i "!RECFULL!"=="fleet.csv" (
    endlocal
    goto :eof
)
set NAMED=
if /i "!RECFULL!"=="!RECNAME!.csv" if /i "!RECEXT!"=="csv" if not defined RECMORE set NAMED=1
endlocal & set "NAMED=%NAMED%"
if not defined NAMED goto malformed
set "RECFILE=%WORK%\record.csv"
call :readline
setlocal EnableDelayedExpansion
set "WANT=!RECNAME!"
call :fields
if not defined R_OK (
    endlocal
    goto malformed
)
rem The verdict as one of this file's own words, for the counts below.
for %%w in (infected failed unfinished cleaned clean) do if "!R_VERDICT!"=="%%w" set "KV=%%w"
type "%WORK%\last.txt" >>"%WORK%\!KV!.csv"
set NEED=
if "!KV!"=="infected" set "NEED=!NEED!; still infected"
if "!KV!"=="failed" set "NEED=!NEED!; some operations failed"
if "!KV!"=="unfinished" set "NEED=!NEED!; no finished run"
if "!R_RESTART!"=="yes" set "NEED=!NEED!; restart needed"
if "!R_SHARES!"=="yes" set "NEED=!NEED!; shares not back"
if "!R_SCANNER!"=="yes" set "NEED=!NEED!; scanner left off"
if defined NEED >>"%WORK%\!KV!.act" echo   !R_NAME!: !KV!!NEED!, last run ended !R_END!
if defined TODAY if defined R_END call :age
endlocal & set "KV=%KV%"
set /a MACHINES+=1
set /a COUNT_%KV%+=1
goto :eof

rem A record that is not read: its file's name is listed as it is.
:malformed
set /a MALFORMED+=1
for /f "usebackq eol=| delims=" %%n in ("%WORK%\name.txt") do >>"%WORK%\malformed.txt" echo/  %%n
goto :eof

rem The days since the record's end (delayed expansion on), listed when more
rem than DAYS.
:age
>"%WORK%\field.txt" echo/!R_END!
for /f "usebackq tokens=1-3 delims=- " %%p in ("%WORK%\field.txt") do set /a "Y=1%%p-10000, M=1%%q-100, DD=1%%r-100"
call :daynumber
set /a AGE=TODAY-ENDED
if !AGE! GTR %DAYS% >>"%WORK%\old.txt" echo   !R_NAME!: !AGE! days, last run ended !R_END!, !KV!
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
set SIZE=0
for %%A in ("%WORK%\never.txt") do set SIZE=%%~zA
if %SIZE% GTR 0 (
    set ACTION=1
    echo Expected machines that never reported:
    type "%WORK%\never.txt"
)
goto :eof

rem Days since a fixed date (the Julian day number) of the date Y-M-DD.
:daynumber
set /a A=(14-M)/12
set /a Y=Y+4800-A, M=M+12*A-3
set /a ENDED=DD+(153*M+2)/5+365*Y+Y/4-Y/100+Y/400-32045
goto :eof

rem Today's day number, from the local time of WMIC or PowerShell; the 1 put
rem before month and day keeps 08 and 09 from being read as octal.
:today
set NOW=
for /f "skip=1 delims=." %%T in ('wmic os get LocalDateTime 2^>nul') do if not defined NOW set "NOW=%%T"
if not defined NOW for /f %%T in ('powershell -NoProfile -Command "Get-Date -Format yyyyMMddHHmmss" 2^>nul') do set "NOW=%%T"
if defined NOW set "NOW=%NOW: =%"
if not defined NOW goto :eof
if "%NOW:~7,1%"=="" goto :eof
set /a Y=%NOW:~0,4%, M=1%NOW:~4,2%-100, DD=1%NOW:~6,2%-100
call :daynumber
set "TODAY=%ENDED%"
goto :eof

rem --- The record reader, the same in kurrelfix-run.cmd and kurrelfix-report.cmd.
rem :readline (delayed expansion off) takes the last line of the record
rem RECFILE into WORK\last.txt and its fields that are not empty, in order,
rem into T1..T13; RECBAD is set when there is no such line or when it holds a
rem character that the batch never writes there, and then nothing of it is
rem looked at. A line that starts with a comma is no record line (eol=,).
:readline
for %%v in (1 2 3 4 5 6 7 8 9 10 11 12 13) do set "T%%v="
set RECBAD=1
if exist "%WORK%\last.txt" del "%WORK%\last.txt"
for /f "usebackq skip=1 eol=, delims=" %%r in ("%RECFILE%") do >"%WORK%\last.txt" echo/%%r
if not exist "%WORK%\last.txt" goto :eof
set RECBAD=
for /f "usebackq eol=, delims=,.:-_0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ " %%z in ("%WORK%\last.txt") do set "RECBAD=%%z"
if defined RECBAD goto :eof
for /f "usebackq eol=, tokens=1-13 delims=," %%a in ("%WORK%\last.txt") do (
    set "T1=%%a"
    set "T2=%%b"
    set "T3=%%c"
    set "T4=%%d"
    set "T5=%%e"
    set "T6=%%f"
    set "T7=%%g"
    set "T8=%%h"
    set "T9=%%i"
    set "T10=%%j"
    set "T11=%%k"
    set "T12=%%l"
    set "T13=%%m"
)
goto :eof

rem :fields (delayed expansion on) sets R_OK=1 and the R_ fields when T1..T13
rem are a record of the computer WANT as kurrelfix-run.cmd writes it:
rem computer, start, end, exit code, verdict, restart needed, removed now,
rem removed at next boot, failed, shares not back, scanner left off, log.
rem Empty fields are merged away by for /f, so the fields present are told by
rem their forms: start and end are both times or both empty (no clock); the
rem scanner is yes or empty; the log, empty when the tool was missing, is
rem <computer>-<start's date>-<start's time>.log, or <computer>-run.log
rem without a clock.
:fields
set R_OK=
for %%v in (NAME START END CODE VERDICT RESTART NOW BOOT FAILED SHARES SCANNER LOG) do set "R_%%v="
if defined RECBAD goto :eof
call :isname T1
if not defined OK goto :eof
if /i not "!T1!"=="!WANT!" goto :eof
set "R_NAME=!T1!"
call :istime T2
if defined OK (
    set "R_START=!T2!"
    set "STAMP8=!P1!!P2!!P3!"
    set "STAMP6=!P4!!P5!!P6!"
    call :istime T3
    if not defined OK goto :eof
    set "R_END=!T3!"
    set "R_CODE=!T4!"
    set "R_VERDICT=!T5!"
    set "R_RESTART=!T6!"
    set "R_NOW=!T7!"
    set "R_BOOT=!T8!"
    set "R_FAILED=!T9!"
    set "R_SHARES=!T10!"
    set "X=!T11!"
    set "Y=!T12!"
    set "Z=!T13!"
    set "RUNLOGFORM=!T1!-!STAMP8!-!STAMP6!.log"
) else (
    set "R_CODE=!T2!"
    set "R_VERDICT=!T3!"
    set "R_RESTART=!T4!"
    set "R_NOW=!T5!"
    set "R_BOOT=!T6!"
    set "R_FAILED=!T7!"
    set "R_SHARES=!T8!"
    set "X=!T9!"
    set "Y=!T10!"
    set "Z=!T11!!T12!!T13!"
    set "RUNLOGFORM=!T1!-run.log"
)
if defined Z goto :eof
set CODEFORM=
if "!R_VERDICT!"=="clean" set CODEFORM=0
if "!R_VERDICT!"=="cleaned" set CODEFORM=1
if "!R_VERDICT!"=="infected" set CODEFORM=2
if "!R_VERDICT!"=="failed" set CODEFORM=3
if "!R_VERDICT!"=="unfinished" (
    call :isnumber R_CODE
    if not defined OK goto :eof
    set "CODEFORM=!R_CODE!"
)
if not defined CODEFORM goto :eof
if not "!R_CODE!"=="!CODEFORM!" goto :eof
if not "!R_RESTART!"=="yes" if not "!R_RESTART!"=="no" goto :eof
if not "!R_SHARES!"=="yes" if not "!R_SHARES!"=="no" goto :eof
call :iscount R_NOW
if not defined OK goto :eof
call :iscount R_BOOT
if not defined OK goto :eof
call :iscount R_FAILED
if not defined OK goto :eof
if "!X!"=="yes" (
    set R_SCANNER=yes
    set "X=!Y!"
    set Y=
)
if defined Y goto :eof
if defined X if /i not "!X!"=="!RUNLOGFORM!" goto :eof
set "R_LOG=!X!"
set R_OK=1
goto :eof

rem OK=1 when the variable named %1 holds a computer name: letters, digits,
rem - and _ only.
:isname
set OK=
if "!%1!"=="" goto :eof
>"%WORK%\field.txt" echo/!%1!
set F=
for /f "usebackq delims=-_0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ" %%p in ("%WORK%\field.txt") do set "F=%%p"
if not defined F set OK=1
goto :eof

rem OK=1 when the variable named %1 holds a time as YYYY-MM-DD hh:mm:ss, its
rem six numbers then in P1..P6. for /f splits a file's line, not a quoted
rem text, the same way in both cmds (Wine's keeps a quoted text whole).
:istime
set OK=
for %%v in (1 2 3 4 5 6 7) do set "P%%v="
if "!%1!"=="" goto :eof
>"%WORK%\field.txt" echo/!%1!
set S=
for /f "usebackq tokens=1-6 delims=0123456789" %%p in ("%WORK%\field.txt") do set "S=%%p%%q%%r%%s%%t%%u"
if not "!S!"=="-- ::" goto :eof
for /f "usebackq tokens=1-7 delims=-: " %%p in ("%WORK%\field.txt") do (
    set "P1=%%p"
    set "P2=%%q"
    set "P3=%%r"
    set "P4=%%s"
    set "P5=%%t"
    set "P6=%%u"
    set "P7=%%v"
)
if not defined P6 goto :eof
if defined P7 goto :eof
rem Only digits are left between the separators; a 1 put before them keeps
rem 08 and 09 from being read as octal and tells their count.
set TWOBAD=
set L=0
set /a L=1!P1! 2>nul
if !L! LSS 10000 goto :eof
if !L! GTR 19999 goto :eof
call :twodigits P2
call :twodigits P3
call :twodigits P4
call :twodigits P5
call :twodigits P6
if not defined TWOBAD set OK=1
goto :eof
rem TWOBAD=1 unless the variable named %1 holds two digits.
:twodigits
set L=0
set /a L=1!%1! 2>nul
if !L! LSS 100 set TWOBAD=1
if !L! GTR 199 set TWOBAD=1
goto :eof

rem OK=1 when the variable named %1 holds a number as cmd writes it (a minus
rem and digits, no leading zero), which set /a gives back unchanged; N is it.
:isnumber
set OK=
set N=
if "!%1!"=="" goto :eof
set /a N=!%1! 2>nul
if "!N!"=="!%1!" set OK=1
goto :eof
rem The same, for a count: a number not below 0.
:iscount
call :isnumber %1
if defined OK if !N! LSS 0 set OK=
goto :eof
rem --- End of the record reader.
