// The Windows program: everything happens in KurrelfixMain.
#include "app/entry.h"

int main(int argc, char** argv) { return KurrelfixMain(argc, argv); }
