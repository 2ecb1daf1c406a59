// The verdicts on processes.dat, the debug log and a run's leftovers. Here,
// rather than under Wine, since Wine makes no reparse point: a symbolic link
// or junction in place of one of these files is a fact that only these rows
// can give (the hard-link cases run under Wine too).
#include "outputfile.h"

#include <gtest/gtest.h>

#include <string>

TEST(OutputFile, VerdictFromTheHandlesFacts)
{
    const struct {
        const char* what;
        OutputFileFacts facts;  // opened, described, reparse point, links, missing, directory, read-only
        int exitCode;
        bool logWritten;  // the same facts of a debug log
        bool leftoverRemoved;
        std::string cause;  // on standard error
    } cases[] = {
        {"older listing", {true, true, false, 1, false, false, false}, 0, true, true, ""},
        {"no file yet", {false, false, false, 0, true, false, false}, 0, false, false, ""},
        {"read-only", {true, true, false, 1, false, false, true}, 3, true, true, "cannot open the output file"},
        {"directory", {true, true, false, 1, false, true, false}, 3, false, false, "cannot open the output file"},
        {"not opened", {false, false, false, 0, false, false, false}, 3, false, false, "cannot open the output file"},
        {"opened, not told", {true, false, false, 1, false, false, false}, 3, false, false,
         "cannot open the output file"},
        {"symbolic link", {true, true, true, 1, false, false, false}, 3, false, false,
         "the output file is a link (a reparse point) and is not written"},
        {"junction with links", {true, true, true, 2, false, true, false}, 3, false, false,
         "the output file is a link (a reparse point) and is not written"},
        {"hard link", {true, true, false, 2, false, false, false}, 3, false, false,
         "the output file has other hard links and is not written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OutputVerdict verdict = JudgeOutputFile(c.facts);
        EXPECT_EQ(verdict.failure, c.exitCode);
        EXPECT_EQ(RunFailureCause(verdict.failure, verdict.refusal), c.cause);
        EXPECT_EQ(JudgeLogFile(c.facts).failure == RUN_LISTED, c.logWritten);
        EXPECT_EQ(IsRemovableLeftover(c.facts), c.leftoverRemoved);
    }
    // A refusal names the cause only of a refused output file.
    EXPECT_EQ(std::string(RunFailureCause(RUN_OUTPUT_NOT_WRITTEN, OUTPUT_HAS_LINKS)), "cannot write the output file");
    EXPECT_EQ(std::string(RunFailureCause(RUN_OUTPUT_NOT_REPLACED, OUTPUT_OPEN_FAILED)),
              "cannot replace the output file; it is left as it was");
    EXPECT_EQ(std::string(RunFailureCause(7, OUTPUT_OPEN_FAILED)), "");
    EXPECT_EQ(std::string(LogRefusalReason(OUTPUT_HAS_LINKS)), "it has other hard links and is not written");
    // Hidden, system, archive, not indexed pass on; not read-only, directory, compressed, sparse, link.
    EXPECT_EQ(CarriedAttributes(0x2000 | 0x800 | 0x400 | 0x200 | 0x27), 0x2026u);
}

// Only the exact pattern of a run's own new file is ever a leftover.
TEST(OutputFile, StagingNames)
{
    wchar_t name[STAGING_NAME_SIZE];
    MakeStagingName(0x0123456789abcdefULL, name);
    EXPECT_EQ(std::wstring(name), L"processes.dat.0123456789abcdef.new");
    EXPECT_TRUE(IsStagingName(name));
    for (const wchar_t* other : {L"processes.dat", L"processes.dat.0123456789abcde.new",
                                 L"processes.dat.0123456789abcdef0.new", L"processes.dat.0123456789ABCDEF.new",
                                 L"processes.dat.0123456789abcdeg.new", L"processes.dat.0123456789abcdef.NEW",
                                 L"PROCES~1.NEW", L"x\\processes.dat.0123456789abcdef.new"})
        EXPECT_FALSE(IsStagingName(other)) << std::wstring(other).size();
}
