// Stand-in, to be replaced by the worker transport: answers the Java lookup in TaskRoll's own process.
#include "versionreader.h"

ReaderAnswer AskJavaLookup(const std::vector<unsigned char>& request, std::vector<unsigned char>* answer)
{
    return AnswerJavaLookup(request.data(), request.size(), answer) ? READER_ANSWERED : READER_FAILED;
}
