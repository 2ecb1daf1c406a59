#pragma once
// processes.dat, opened for the listing through no planted link.
#include "outputfile.h"

#include <cstdio>

// Opens `path` for writing as fopen "w" would (text mode, created or
// truncated), but refuses a reparse point or a file with other hard links:
// null then, with the reason in `refusal` and errno set as fopen would.
FILE* OpenOutputFile(const char* path, OutputRefusal* refusal);
