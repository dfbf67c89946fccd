#include "e2e/matcher_report.h"

#include <stdio.h>

#include "cleanup/signature_matcher.h"

void PrintMatchReport(const char* path) {
    int index = -1;
    int opened = MatchSignatures(path, SignatureTable, &index);
    printf("%s opened=%d index=%d infected=%d\n", path, opened, index, IsInfectedFile(path));
}
