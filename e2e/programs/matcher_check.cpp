// Reports what the worm test says about each path given, one line each:
//   matcher_check.exe PATH...
// Its host twin prints the same lines from the simulated workstation.
#include "e2e/matcher_report.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) PrintMatchReport(argv[i]);
    return 0;
}
