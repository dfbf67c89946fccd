// The scanner's state as the tool leaves it, written down so that no run
// that dies between the switch-off and the switch-on (killed, the console
// window closed, the user logged off, the power gone) leaves the scanner off
// without a trace.
//
// Before it switches the scanner off, the run writes the record
// Kurrelfix-scanner.rec in the Windows folder, beside the log and the share
// journal, flushed to disk; on NT it is owned by Administrators and only
// Administrators and SYSTEM may open it, and on a Windows volume without
// access lists it is the value "Scanner record" of the key
// HKEY_LOCAL_MACHINE\SOFTWARE\Ombrel Works\Kurrelfix instead. It holds one line, "Kurrelfix scanner record
// 1 NT" (or 9x), the family the scanner was switched off as. A switch-on that
// succeeds clears it; a run that finds it switches the scanner on first.
#ifndef KURRELFIX_PROTECTION_SCANNER_RECORD_H
#define KURRELFIX_PROTECTION_SCANNER_RECORD_H

// Where this run's record is: 0 none, 1 the file, 2 the key's value.
extern int ScannerRecordAt;
// The family the scanner was switched off as (1 NT, 0 9x), -1 while this run
// has not switched it off; the switch-on goes the same way, whatever a family
// check says in between.
extern int ScannerOffAsNT;

// At the start of the removal: a record left by an earlier run means the
// scanner may still be off. It is switched on, a level-1 line says so, and
// the record goes when the switch-on succeeds; otherwise it stays for the
// switch-on at the end of this run.
void ResumeScanningLeftOff();

// Step 3: writes the record (unless an earlier run's is still there), then
// switches the scanner off. When the record cannot be written the scanner is
// left on, with a level-1 line: it is never off without a record.
void SuspendScanning();

// Step 12: switches the scanner on as the family it was switched off as. On
// success the record goes and "scanner switched on" is logged; otherwise
// "Scanner not switched back on" goes to the log at level 1 and to the
// console, the record stays, and 0 is returned: the run counts a failure.
// 1 when on, or never switched off by this run.
int ResumeScanning();

#endif
