#include "versionreader.h"

// The worker's side of a Java lookup.
bool AnswerJavaLookup(const unsigned char*, std::size_t, std::vector<unsigned char>*)
{
    return false;
}
