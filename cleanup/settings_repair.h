// Undoes the worm's changes to system settings once its files and processes
// are gone: the command that opens executable files, and the run= entry of
// win.ini.
#ifndef KURRELFIX_CLEANUP_SETTINGS_REPAIR_H
#define KURRELFIX_CLEANUP_SETTINGS_REPAIR_H

// When the run found the worm, puts back the default value of
// HKEY_CLASSES_ROOT\exefile\shell\open\command and looks at it again 15
// seconds later: right then means cleaned (infection state 1), wrong means
// still infected (state 2). Returns 1 on success, 0 on failure.
int RestoreShellCommand();

// Copies win.ini to win.bak in the Windows directory, then empties the run=
// entry of its section "windows". A failed copy counts as a failure and
// leaves win.ini alone.
void CleanWinIniRun();

#endif
