// Resets the run lists of the stages; each stage with a process-wide list
// adds its reset here.
void ResetRunLists() {}
