#include "cleanup/wow64_view.h"

#include "app/outcome.h"

int RunsOnWow64() {
    int wow64 = IsWow64Windows();
    if (wow64 >= 0) return wow64;
    CountFailure();
    return 0;
}

void BeginRealSystemFolder(int wow64, FsRedirection* state) {
    if (!SeeRealSystemFolder(wow64, state)) CountFailure();
}

// Left off, the redirection would keep the later stages from the 32-bit
// libraries they load.
void EndRealSystemFolder(FsRedirection* state) {
    if (!RedirectAgain(state)) CountFailure();
}
