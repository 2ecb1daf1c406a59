// TaskRoll: writes one record per running process to processes.dat in the
// current directory. The driver reads the options, prepares the paths and
// hands the record buffer to the listing.
#include "debuglog.h"
#include "listing.h"
#include "namelist.h"
#include "privilege.h"
#include "settings.h"
#include "text.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t DELIMITER_VALUE_SIZE = 10;

const char* s_delimiterName = "TAB";
int s_iconFlag = 0;
bool s_privilegeFlag = false;

char s_delimiterValue[DELIMITER_VALUE_SIZE];
char s_inputPath[PATH_BUFFER_SIZE];
char s_iconsPath[PATH_BUFFER_SIZE];
char s_outputPath[PATH_BUFFER_SIZE];
char s_record[RECORD_BUFFER_SIZE];

void ShowUsage()
{
    LogTrace("ShowUsage");
    std::printf("USAGE:\n");
    std::printf("\ttaskroll [%s] [%s] [%s{delimeter}] [%s{input file}]\n\n", "/debuglog", "/setpriv", "/delim:",
                "/file:");
    std::printf("where\n");
    std::printf("\t{delimeter} is one of the following values: %s (default), %s, %s\n", "TAB", "COMMA", "SEMIC");
    std::printf("\t{input file} is the full pathname of an input file\n");
}

// Takes the value after `prefix` when the argument starts with it and the value
// is neither empty nor too long for the destination; otherwise leaves the
// destination unchanged.
bool ExtractParamValue(const char* argument, const char* prefix, char* destination, std::size_t destinationSize)
{
    LogTrace("ExtractParamValue");
    std::size_t prefixLength = std::strlen(prefix);
    if (std::strncmp(argument, prefix, prefixLength) != 0)
        return false;
    const char* value = argument + prefixLength;
    std::size_t valueLength = std::strlen(value);
    if (valueLength == 0 || valueLength >= destinationSize)
        return false;
    std::memcpy(destination, value, valueLength + 1);
    return true;
}

// "SEMIC" and "COMMA" choose their delimiter; any other value, the same words
// in lower case included, chooses the tab.
void SelectDelimiter(const char* value)
{
    struct Delimiter {
        const char* name;
        const char* byte;
    };
    static const Delimiter choices[] = {{"SEMIC", ";"}, {"COMMA", ","}, {"TAB", "\t"}};
    const Delimiter* chosen = &choices[2];
    for (const Delimiter& choice : choices) {
        if (std::strcmp(value, choice.name) == 0) {
            chosen = &choice;
            break;
        }
    }
    CopyBounded(g_fieldDelimiter, sizeof g_fieldDelimiter, chosen->byte);
    s_delimiterName = chosen->name;
}

// Reads the options in order. False when the run ends here (after the usage text).
bool ReadOptions(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "/?") == 0) {
            ShowUsage();
            return false;
        }
        // "/debuglog" and "/icon" also go through the two value tests below,
        // which they fail; the log shows their trace lines.
        if (std::strcmp(argument, "/debuglog") == 0)
            InitLogFile();
        if (std::strcmp(argument, "/icon") == 0)
            s_iconFlag = 1;
        if (std::strcmp(argument, "/setpriv") == 0) {
            s_privilegeFlag = true;
            continue;
        }
        if (ExtractParamValue(argument, "/delim:", s_delimiterValue, sizeof s_delimiterValue)) {
            SelectDelimiter(s_delimiterValue);
            continue;
        }
        ExtractParamValue(argument, "/file:", s_inputPath, sizeof s_inputPath);
    }
    LogMessage("Delimeter is set to '%s'", s_delimiterName);
    LogMessage("Extracting process names from file: %s", s_inputPath);
    // Also without /file:, so that the log tells that no list was read.
    GetTaskRollFromFile(s_inputPath);
    if (s_privilegeFlag)
        SetPrivileges();
    return true;
}

// Builds "<current directory>\ico" and "<current directory>\processes.dat".
// False when the current directory cannot be read or is too long for them.
bool BuildOutputPaths()
{
    DWORD length = GetCurrentDirectoryA(PATH_BUFFER_SIZE, s_iconsPath);
    if (length == 0 || length >= PATH_BUFFER_SIZE)
        return false;
    CopyBounded(s_outputPath, sizeof s_outputPath, s_iconsPath);
    return AppendBounded(s_iconsPath, sizeof s_iconsPath, "\\ico") &&
           AppendBounded(s_outputPath, sizeof s_outputPath, "\\processes.dat");
}

// The current directory however long it is, for the message that it is too long.
std::string CurrentDirectory()
{
    std::string directory(GetCurrentDirectoryA(0, nullptr), '\0');
    DWORD length = directory.empty() ? 0 : GetCurrentDirectoryA(static_cast<DWORD>(directory.size()), &directory[0]);
    directory.resize(length < directory.size() ? length : 0);
    return directory;
}

// A run that produced no listing ends with its own exit code and one line on
// standard error that names the cause and the path, so that a caller does not
// take an old processes.dat for this run's result.
int ReportFailure(int failure, const std::string& path, OutputRefusal refusal = OUTPUT_OPEN_FAILED)
{
    std::fprintf(stderr, "TaskRoll: %s: %s\n", RunFailureCause(failure, refusal), path.c_str());
    return failure;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && !ReadOptions(argc, argv)) {
        FreeLogFile();
        return 0;
    }

    if (!BuildOutputPaths()) {
        // Never fall back to the drive root: list nothing instead.
        LogMessage("Current directory is too long for the output file path; nothing is listed");
        FreeLogFile();
        return ReportFailure(RUN_CURRENT_DIRECTORY_TOO_LONG, CurrentDirectory());
    }

    if (s_iconFlag && GetFileAttributesA(s_iconsPath) == INVALID_FILE_ATTRIBUTES &&
        !CreateDirectoryA(s_iconsPath, nullptr)) {
        LogMessage("Unable to create icons subdirectory");
        FreeLogFile();
        return ReportFailure(RUN_ICONS_DIRECTORY_FAILED, s_iconsPath);
    }

    // From here on "\n" on standard output stays a single byte.
    _setmode(_fileno(stdout), _O_BINARY);
    std::memset(s_record, 0, sizeof s_record);
    OutputRefusal refusal = OUTPUT_OPEN_FAILED;
    int failure = GetProcessesData(s_record, s_outputPath, &refusal);
    // The record of the last process handled, if it yielded one.
    std::fputs(s_record, stdout);
    LogMessage("TaskRoll Terminated");
    FreeLogFile();
    return failure == RUN_LISTED ? 0 : ReportFailure(failure, s_outputPath, refusal);
}
