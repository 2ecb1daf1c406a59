// The verdict on processes.dat. Here, rather than under Wine, since Wine makes
// no reparse point: a symbolic link or junction in place of processes.dat is a
// fact that only these rows can give (the hard-link case runs under Wine too,
// in the command-line tests).
#include "outputfile.h"

#include <gtest/gtest.h>

#include <string>

TEST(OutputFile, VerdictFromTheHandlesFacts)
{
    const struct {
        const char* what;
        OutputFileFacts facts;  // opened, described, reparse point, links, holds bytes
        int exitCode;
        bool truncate;
        std::string cause;  // on standard error
    } cases[] = {
        {"new or empty file", {true, true, false, 1, false}, 0, false, ""},
        {"older listing", {true, true, false, 1, true}, 0, true, ""},
        {"device without links", {true, true, false, 0, false}, 0, false, ""},
        {"not opened", {false, false, false, 0, false}, 3, false, "cannot open the output file"},
        {"opened, not told", {true, false, false, 1, true}, 3, false, "cannot open the output file"},
        {"symbolic link", {true, true, true, 1, false}, 3, false,
         "the output file is a link (a reparse point) and is not written"},
        {"junction with bytes and links", {true, true, true, 2, true}, 3, false,
         "the output file is a link (a reparse point) and is not written"},
        {"hard link", {true, true, false, 2, true}, 3, false, "the output file has other hard links and is not written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OutputVerdict verdict = JudgeOutputFile(c.facts);
        EXPECT_EQ(verdict.failure, c.exitCode);
        EXPECT_EQ(verdict.truncate, c.truncate);
        EXPECT_EQ(RunFailureCause(verdict.failure, verdict.refusal), c.cause);
    }
    // A refusal names the cause only of a refused output file.
    EXPECT_EQ(std::string(RunFailureCause(RUN_OUTPUT_NOT_WRITTEN, OUTPUT_HAS_LINKS)), "cannot write the output file");
    EXPECT_EQ(std::string(RunFailureCause(7, OUTPUT_OPEN_FAILED)), "");
}
