#include "outputfile.h"

OutputVerdict JudgeOutputFile(const OutputFileFacts& facts)
{
    OutputVerdict verdict = {RUN_OUTPUT_NOT_OPENED, OUTPUT_OPEN_FAILED, false};
    // A file whose handle cannot say what it is might be either kind of link.
    if (!facts.opened || !facts.described)
        return verdict;
    if (facts.reparsePoint) {
        verdict.refusal = OUTPUT_IS_REPARSE_POINT;
    } else if (facts.links > 1) {
        verdict.refusal = OUTPUT_HAS_LINKS;
    } else {
        verdict.failure = RUN_LISTED;
        // Only a file that holds something is cut: a device has no length
        // to set, and is written as fopen would write it.
        verdict.truncate = facts.holdsBytes;
    }
    return verdict;
}

const char* RunFailureCause(int failure, OutputRefusal refusal)
{
    static const char* const causes[] = {
        "",
        "the current directory is too long for the output file path",
        "cannot create the icons directory",
        "cannot open the output file",
        "cannot write the output file",
        "cannot enumerate the running processes; the output file is left empty",
    };
    static const char* const refusals[] = {
        "",
        "the output file is a link (a reparse point) and is not written",
        "the output file has other hard links and is not written",
    };
    if (failure == RUN_OUTPUT_NOT_OPENED && refusal > OUTPUT_OPEN_FAILED && refusal <= OUTPUT_HAS_LINKS)
        return refusals[refusal];
    if (failure < RUN_LISTED || failure > RUN_ENUMERATION_FAILED)
        return "";
    return causes[failure];
}
