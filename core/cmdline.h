#pragma once
// TaskRoll's command line, read into the run's settings. Options are compared
// byte for byte, case-sensitively; anything else is ignored. The driver then
// acts on the settings in the order the reading had: the log opened at the
// first "/debuglog", the usage text at "/?", then the name list and the privilege.
#include <cstddef>

constexpr std::size_t DELIMITER_VALUE_SIZE = 10;  // the text after "/delim:", NUL included
constexpr std::size_t INPUT_PATH_SIZE = 260;      // the text after "/file:", NUL included: MAX_PATH

struct TaskRollSettings {
    // "/?" came: the usage text is shown and the run ends; the arguments after it are not read.
    bool showUsage = false;
    // "/debuglog" came (before any "/?"): the log opens where it came.
    bool debugLog = false;
    // The value tests ("/delim:", then "/file:") made from the first
    // "/debuglog" on, its own included: each has always left a trace line
    // "ExtractParamValue" in the log, where the log shows how it was read.
    unsigned loggedValueTests = 0;
    bool icon = false;          // "/icon": the ico directory is ensured
    bool setPrivilege = false;  // "/setpriv": the debug privilege, after the name list
    // The field delimiter and its name, which change together: "\t" TAB, "," COMMA, ";" SEMIC.
    char fieldDelimiter[2] = "\t";
    const char* delimiterName = "TAB";
    char inputPath[INPUT_PATH_SIZE] = {};  // the last "/file:" value taken; empty: no name list
};

// Reads argv[1] to argv[argc - 1] into `settings`, from its defaults. A
// "/delim:" or "/file:" value is taken when it is not empty and fits its
// buffer with its NUL; a later one replaces an earlier one.
void ReadCommandLine(int argc, const char* const* argv, TaskRollSettings* settings);
