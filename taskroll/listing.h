#pragma once
// The listing: one process record per running process, or per listed path,
// written to processes.dat.
#include "outputfile.h"

// Writes the listing to `outputPath`. RUN_LISTED when it was written, even if
// single processes could not be read (they are logged); otherwise what made
// the listing fail, and for RUN_OUTPUT_NOT_OPENED also why in `refusal`.
// `record` then holds the last record written, for standard output; after a
// failure it is empty. processes.dat is replaced only by a whole listing.
int GetProcessesData(char* record, const wchar_t* outputPath, OutputRefusal* refusal = nullptr);
