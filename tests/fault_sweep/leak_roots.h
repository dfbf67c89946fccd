// Where LeakSanitizer looks for pointers at the end of each sweep run.
//
// By itself it scans every writable segment of every loaded module. The
// biggest by far are the sanitizer runtimes' own static tables (about 11 MB
// of libasan's and libubsan's .bss, mostly untouched), and a forked child
// faults each of those pages in and reads it again at every exit: most of
// what a run cost. Those tables hold the runtimes' own state, never a
// pointer into the program's heap, so the sweep scans the other modules'
// writable segments instead (the program's, libstdc++'s, libc's, ...) and
// leaves the runtimes' out.
//
// Leaving a root out can only make more memory look leaked, never hide a
// leak: a missing root shows as a failed run, not a passing one.
#ifndef KURRELFIX_TESTS_FAULT_SWEEP_LEAK_ROOTS_H
#define KURRELFIX_TESTS_FAULT_SWEEP_LEAK_ROOTS_H

namespace fault_sweep {

// Registers the writable segments of every loaded module but the sanitizer
// runtimes as LeakSanitizer's root regions; the process runs with
// use_globals=0 (leak_roots.cpp). Call once in the parent, before the first
// fork: the children inherit the list. Returns how many segments it named,
// 0 when the sweep is built without LeakSanitizer.
int RegisterLeakRoots();

// Gives the sanitizer allocator's quarantine of freed blocks back before a
// fork. A child's leak check walks every block of the heap it inherited,
// freed ones in quarantine too, and its marks fault in a copy of each page:
// with the parent's freed report texts kept, a run cost several times what a
// run of a fresh parent costs. Does nothing without a sanitizer runtime.
void ReleaseFreedMemory();

}  // namespace fault_sweep

#endif
