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
rem machine whose own last record says clean, or cleaned with nothing
rem pending, and whose own log ends with that run's exit code line, is not
rem swept again. This file ends with the tool's exit code when the log shows
rem the run's end, 8 when it does not (or when it cannot make its work folder
rem in %TEMP%), 9 when Kurrelfix.exe is missing.
rem
rem What others can write is read here as data, never as commands: the log
rem (a process names itself as it likes, a file's name comes from the disk)
rem and the records (every computer may write the folder). Windows' cmd
rem parses a line in this order: percent expansion, then the special
rem characters (" & | < > ( ) ^) with the split into commands, redirections
rem and tokens, then FOR-variable substitution, then delayed expansion, and
rem then it runs the command. So:
rem - Such text reaches a command only as a FOR variable (%%L), which comes in
rem   after the line was split and percent expansion was over: its " & | < >
rem   ( ) ^ and % are plain characters there. Delayed expansion is off while
rem   such a variable is in use, so its ! stays too. It is never put into a
rem   line as %VAR%, which cmd would expand before parsing, nor given to call,
rem   which parses its arguments once more.
rem - Only two commands take it: set "NAME=%%x" and echo/%%x into a file.
rem   Never if: Wine's cmd puts the text into the line before it parses an
rem   if, so a quote in it would end the comparison and run the rest. Never
rem   echo. or echo:, which Windows' cmd takes for the path of a program when
rem   the text holds \..\; echo/ writes the text in both (Wine's cmd does not
rem   know echo().
rem - What the batch learns from a log line, find.exe decides, not cmd: each
rem   line is copied between two tabs (the tool writes a tab of outside text
rem   as an escape, so no line holds one), and a fixed text found right after
rem   a tab starts a line, one found right before a tab ends it. cmd compares
rem   only counts, file sizes and values of its own.
rem - A record is believed only when its last line holds nothing but the
rem   characters this file writes there (letters, digits, - _ : . , and
rem   spaces), which cmd cannot take for anything but text, and when each
rem   field then has the form this file writes (see :readline and :fields).
setlocal DisableDelayedExpansion
set ONCE=
if /i "%~1"=="/ONCE" (
    set ONCE=1
    shift
)
set "FOLDER=%~1"
set "TOOL=%~dp0Kurrelfix.exe"
set "LOG=%windir%\Kurrelfix.log"
set "CSV=%FOLDER%\%COMPUTERNAME%.csv"
rem find.exe from the system folder, never one from the current folder.
set "FIND=%windir%\system32\find.exe"
set "TAB=	"
rem A work folder of this run's own, made anew under a name no one can guess.
set TRIES=0
:workfolder
set /a TRIES+=1
set "WORK=%TEMP%\kurrelfix-run-%RANDOM%%RANDOM%"
if exist "%WORK%" if %TRIES% LSS 9 goto workfolder
if exist "%WORK%" goto noworkfolder
mkdir "%WORK%" 2>nul
if not exist "%WORK%\" goto noworkfolder
if not "%FOLDER%"=="" if not exist "%FOLDER%\" mkdir "%FOLDER%"
set SKIP=
if not "%FOLDER%"=="" if defined ONCE if exist "%CSV%" call :lastrecord
if defined SKIP (
    rd /s /q "%WORK%" 2>nul
    exit /b 0
)

rem The log's lines before this run, so that only this run's lines are read
rem afterwards: a run that could not write the log adds none, and an earlier
rem run's exit code line is never taken for this one's.
set BEFORE=0
if exist "%LOG%" if not exist "%LOG%\*" for /f "usebackq delims=" %%L in ("%LOG%") do set /a BEFORE+=1
set SKIPPED=
if %BEFORE% GTR 0 set "SKIPPED=skip=%BEFORE% "
set AGREED=
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

rem This run's lines, copied as they are and between two tabs. The tool
rem writes its exit code line last; without it the run did not reach its end
rem (no administrator rights, a log that could not be written, a crash),
rem whatever its exit code says.
if exist "%LOG%" if not exist "%LOG%\*" for /f "usebackq %SKIPPED%delims=" %%L in ("%LOG%") do (
    >>"%WORK%\run.log" echo/%%L
    >>"%WORK%\lines.txt" echo/%TAB%%%L%TAB%
)
if exist "%WORK%\lines.txt" call :thisrun
if not "%FOLDER%"=="" type nul >"%RUNLOG%" 2>nul
if not "%FOLDER%"=="" if exist "%WORK%\run.log" copy /b /y "%WORK%\run.log" "%RUNLOG%" >nul 2>nul

if not "%AGREED%"=="%CODE%" goto unfinished
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
if "%FOLDER%"=="" goto done
if not exist "%CSV%" >"%CSV%" echo computer,start,end,exit code,verdict,restart needed,removed now,removed at next boot,failed,shares not back,scanner left off,log
rem A write that failed is told by the record not growing.
set SIZE=0
if exist "%CSV%" for %%A in ("%CSV%") do set SIZE=%%~zA
>>"%CSV%" echo %COMPUTERNAME%,%START%,%END%,%CODE%,%VERDICT%,%RESTART%,%NOW_REMOVED%,%BOOT_REMOVED%,%FAILED%,%SHARES%,%SCANNER%,%RUNLOGNAME%
set GROWN=0
if exist "%CSV%" for %%A in ("%CSV%") do set GROWN=%%~zA
if %GROWN% LEQ %SIZE% echo %COMPUTERNAME%: the record could not be written to %CSV%
:done
rd /s /q "%WORK%" 2>nul
exit /b %RESULT%

:noworkfolder
echo %COMPUTERNAME%: cannot make a work folder in %TEMP%; nothing was run.
exit /b 8

rem What this run's lines say, each between two tabs in lines.txt: the last
rem exit code line, whether the scanner was left off, and the deletions by
rem their result. A "Deleting file" line is the tool's own: its path is a real
rem file's, which holds no quote, so its end is the tool's ", result=N".
:thisrun
"%FIND%" "%TAB%Kurrelfix tool exit code: " <"%WORK%\lines.txt" >"%WORK%\exit.txt"
for /f "usebackq delims=" %%x in ("%WORK%\exit.txt") do >"%WORK%\lastexit.txt" echo/%%x
if exist "%WORK%\lastexit.txt" "%FIND%" "%TAB%Kurrelfix tool exit code: %CODE%%TAB%" <"%WORK%\lastexit.txt" >"%WORK%\agrees.txt"
if exist "%WORK%\agrees.txt" for %%A in ("%WORK%\agrees.txt") do if %%~zA GTR 0 set "AGREED=%CODE%"
"%FIND%" "%TAB%Scanner not switched back on" <"%WORK%\lines.txt" >"%WORK%\scanner.txt"
for %%A in ("%WORK%\scanner.txt") do if %%~zA GTR 0 set SCANNER=yes
"%FIND%" "%TAB%Deleting file " <"%WORK%\lines.txt" >"%WORK%\deleting.txt"
for %%N in (1 2 3 4) do "%FIND%" ", result=%%N%TAB%" <"%WORK%\deleting.txt" >"%WORK%\result%%N.txt"
for /f "usebackq delims=" %%x in ("%WORK%\result1.txt") do set /a NOW_REMOVED+=1
for /f "usebackq delims=" %%x in ("%WORK%\result2.txt") do set /a BOOT_REMOVED+=1
for /f "usebackq delims=" %%x in ("%WORK%\result3.txt") do set /a FAILED+=1
for /f "usebackq delims=" %%x in ("%WORK%\result4.txt") do set /a FAILED+=1
goto :eof

rem /ONCE skips this machine only when its last record is its own and well
rem formed, says clean, or cleaned without a restart, a failure, a share or
rem the scanner pending, and this machine's own log, which only
rem administrators can write, ends with that run's exit code line: a record
rem that someone else put into the folder cannot keep a machine from its run.
:lastrecord
set "RECFILE=%CSV%"
call :readline
setlocal EnableDelayedExpansion
set "WANT=!COMPUTERNAME!"
call :fields
set LASTCODE=
if defined R_OK if "!R_VERDICT!"=="clean" set LASTCODE=0
if defined R_OK if "!R_VERDICT!"=="cleaned" set LASTCODE=1
set PENDING=yes
if defined LASTCODE if "!R_RESTART!,!R_FAILED!,!R_SHARES!,!R_SCANNER!"=="no,0,no," set PENDING=
set LOGENDS=
if not defined PENDING call :logends
set BELIEVED=
if defined LOGENDS (
    echo !COMPUTERNAME!: skipped: its last run, ended !R_END!, found it !R_VERDICT! with nothing pending. Run without /ONCE to sweep it again.
    set BELIEVED=1
)
endlocal & set "SKIP=%BELIEVED%"
goto :eof

rem LOGENDS=1 when the last line of this machine's log is the exit code line
rem with LASTCODE.
:logends
setlocal DisableDelayedExpansion
set ENDS=
if exist "%WORK%\loglast.txt" del "%WORK%\loglast.txt"
if exist "%LOG%" if not exist "%LOG%\*" for /f "usebackq delims=" %%L in ("%LOG%") do >"%WORK%\loglast.txt" echo/%TAB%%%L%TAB%
if exist "%WORK%\loglast.txt" "%FIND%" "%TAB%Kurrelfix tool exit code: %LASTCODE%%TAB%" <"%WORK%\loglast.txt" >"%WORK%\logends.txt"
if exist "%WORK%\logends.txt" for %%A in ("%WORK%\logends.txt") do if %%~zA GTR 0 set ENDS=1
endlocal & set "LOGENDS=%ENDS%"
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
