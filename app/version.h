/* The tool's version, in one place: the version line that the tool prints
   and logs, and the version resource of Kurrelfix.exe, are both made from
   these numbers. Plain macros, because the resource compiler reads this file
   too. Printed as "Kurrelfix v1.00.5"; the resource says 1.0.0.5. */
#ifndef KURRELFIX_APP_VERSION_H
#define KURRELFIX_APP_VERSION_H

#define KURRELFIX_VERSION_MAJOR 1
#define KURRELFIX_VERSION_MINOR 0
#define KURRELFIX_VERSION_BUILD 5

#endif
