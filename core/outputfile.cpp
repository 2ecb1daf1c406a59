#include "outputfile.h"

#include <cwchar>

namespace {

const wchar_t STAGING_PREFIX[] = L"processes.dat.";
const wchar_t STAGING_SUFFIX[] = L".new";
constexpr std::size_t STAGING_PREFIX_LENGTH = 14;
constexpr std::size_t STAGING_DIGITS = 16;

// The FILE_ATTRIBUTE_* values that CarriedAttributes passes on.
constexpr std::uint32_t ATTRIBUTE_HIDDEN = 0x2;
constexpr std::uint32_t ATTRIBUTE_SYSTEM = 0x4;
constexpr std::uint32_t ATTRIBUTE_ARCHIVE = 0x20;
constexpr std::uint32_t ATTRIBUTE_NOT_CONTENT_INDEXED = 0x2000;

// A file whose handle cannot say what it is might be either kind of link.
OutputVerdict JudgeDescribed(const OutputFileFacts& facts)
{
    OutputVerdict verdict = {RUN_OUTPUT_NOT_OPENED, OUTPUT_OPEN_FAILED};
    if (!facts.opened || !facts.described)
        return verdict;
    if (facts.reparsePoint)
        verdict.refusal = OUTPUT_IS_REPARSE_POINT;
    else if (facts.links > 1)
        verdict.refusal = OUTPUT_HAS_LINKS;
    else if (!facts.directory)
        verdict.failure = RUN_LISTED;
    return verdict;
}

}  // namespace

OutputVerdict JudgeOutputFile(const OutputFileFacts& facts)
{
    if (facts.missing)
        return {RUN_LISTED, OUTPUT_OPEN_FAILED};
    OutputVerdict verdict = JudgeDescribed(facts);
    if (verdict.failure == RUN_LISTED && facts.readOnly)
        verdict.failure = RUN_OUTPUT_NOT_OPENED;
    return verdict;
}

OutputVerdict JudgeLogFile(const OutputFileFacts& facts)
{
    return JudgeDescribed(facts);
}

const char* RunFailureCause(int failure, OutputRefusal refusal)
{
    static const char* const causes[] = {
        "",
        "the current directory is too long for the output file path",
        "cannot create the icons directory",
        "cannot open the output file",
        "cannot write the output file",
        "cannot enumerate the running processes; the output file is left as it was",
        "cannot replace the output file; it is left as it was",
    };
    static const char* const refusals[] = {
        "",
        "the output file is a link (a reparse point) and is not written",
        "the output file has other hard links and is not written",
    };
    if (failure == RUN_OUTPUT_NOT_OPENED && refusal > OUTPUT_OPEN_FAILED && refusal <= OUTPUT_HAS_LINKS)
        return refusals[refusal];
    if (failure < RUN_LISTED || failure > RUN_OUTPUT_NOT_REPLACED)
        return "";
    return causes[failure];
}

const char* LogRefusalReason(OutputRefusal refusal)
{
    if (refusal == OUTPUT_IS_REPARSE_POINT)
        return "it is a link (a reparse point) and is not written";
    if (refusal == OUTPUT_HAS_LINKS)
        return "it has other hard links and is not written";
    return "";
}

std::uint32_t CarriedAttributes(std::uint32_t attributes)
{
    return attributes & (ATTRIBUTE_HIDDEN | ATTRIBUTE_SYSTEM | ATTRIBUTE_ARCHIVE | ATTRIBUTE_NOT_CONTENT_INDEXED);
}

void MakeStagingName(std::uint64_t random, wchar_t (&name)[STAGING_NAME_SIZE])
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wmemcpy(name, STAGING_PREFIX, STAGING_PREFIX_LENGTH);
    for (std::size_t i = 0; i < STAGING_DIGITS; ++i)
        name[STAGING_PREFIX_LENGTH + i] = digits[(random >> (60 - 4 * i)) & 0xF];
    std::wmemcpy(name + STAGING_PREFIX_LENGTH + STAGING_DIGITS, STAGING_SUFFIX, 5);
}

// Exact and case-sensitive: the pattern is the one MakeStagingName writes, and
// a name the file system matched only by its short form or in another case is
// no run's file.
bool IsStagingName(const wchar_t* name)
{
    if (std::wcslen(name) != STAGING_NAME_SIZE - 1 || std::wcsncmp(name, STAGING_PREFIX, STAGING_PREFIX_LENGTH) != 0 ||
        std::wcscmp(name + STAGING_PREFIX_LENGTH + STAGING_DIGITS, STAGING_SUFFIX) != 0)
        return false;
    for (std::size_t i = 0; i < STAGING_DIGITS; ++i) {
        wchar_t c = name[STAGING_PREFIX_LENGTH + i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')))
            return false;
    }
    return true;
}

bool IsRemovableLeftover(const OutputFileFacts& facts)
{
    return JudgeDescribed(facts).failure == RUN_LISTED;
}
