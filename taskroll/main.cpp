// TaskRoll: writes one record per running process to processes.dat in the
// current directory. The driver reads the options into the run's settings,
// acts on them, prepares the paths and hands the record buffer to the listing.
#include "taskroll.h"
#include "systemdlls.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Wide, so that a current directory named outside the ANSI code page is found.
std::wstring s_iconsPath;
std::wstring s_outputPath;

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

// Acts on the options as they were read: the log opens where "/debuglog"
// came, and shows the reading as it always has. False when the run ends here
// (after the usage text).
bool ActOnOptions()
{
    if (g_settings.debugLog)
        InitLogFile();
    for (unsigned i = 0; i < g_settings.loggedValueTests; ++i)
        LogTrace("ExtractParamValue");
    if (g_settings.showUsage) {
        ShowUsage();
        return false;
    }
    LogMessage("Delimeter is set to '%s'", g_settings.delimiterName);
    LogMessage("Extracting process names from file: %s", g_settings.inputPath);
    // Also without /file:, so that the log tells that no list was read. What
    // the list reader says of a list not read whole goes to standard error:
    // the listing alone would not tell it.
    for (const std::string& cause : GetTaskRollFromFile(g_settings.inputPath))
        std::fprintf(stderr, "TaskRoll: %s: %s\n", cause.c_str(), g_settings.inputPath);
    if (g_settings.setPrivilege)
        SetPrivileges();
    return true;
}

// Builds "<current directory>\ico" and "<current directory>\processes.dat".
// False when the current directory cannot be read or is too long for them.
bool BuildOutputPaths()
{
    wchar_t directory[PATH_BUFFER_SIZE] = {};
    DWORD length = GetCurrentDirectoryW(PATH_BUFFER_SIZE, directory);
    // "\processes.dat" and its NUL must fit in MAX_PATH, as they always had to.
    if (length == 0 || length + 15 > PATH_BUFFER_SIZE)
        return false;
    s_iconsPath = std::wstring(directory) + L"\\ico";
    s_outputPath = std::wstring(directory) + L"\\processes.dat";
    return true;
}

// The current directory however long it is, for the message that it is too long.
std::wstring CurrentDirectory()
{
    std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
    DWORD length = directory.empty() ? 0 : GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), &directory[0]);
    directory.resize(length < directory.size() ? length : 0);
    return directory;
}

// A run that produced no listing ends with its own exit code and one line on
// standard error that names the cause and the path, so that a caller does not
// take an old processes.dat for this run's result.
int ReportFailure(int failure, const std::wstring& path, OutputRefusal refusal = OUTPUT_OPEN_FAILED)
{
    std::fprintf(stderr, "TaskRoll: %s: %s\n", RunFailureCause(failure, refusal), MessagePath(path).c_str());
    return failure;
}

}  // namespace

int main(int argc, char* argv[])
{
    LoadDllsFromSystemOnly();
    // TaskRoll started by itself to ask the system's version functions.
    if (argc == 2 && std::strcmp(argv[1], VERSION_READER_ARGUMENT) == 0)
        return RunVersionReader();
    ReadCommandLine(argc, argv, &g_settings);
    if (argc > 1 && !ActOnOptions()) {
        FreeLogFile();
        return 0;
    }

    if (!BuildOutputPaths()) {
        // Never fall back to the drive root: list nothing instead.
        LogMessage("Current directory is too long for the output file path; nothing is listed");
        FreeLogFile();
        return ReportFailure(RUN_CURRENT_DIRECTORY_TOO_LONG, CurrentDirectory());
    }

    if (g_settings.icon && GetFileAttributesW(s_iconsPath.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !CreateDirectoryW(s_iconsPath.c_str(), nullptr)) {
        LogMessage("Unable to create icons subdirectory");
        FreeLogFile();
        return ReportFailure(RUN_ICONS_DIRECTORY_FAILED, s_iconsPath);
    }

    // From here on "\n" on standard output stays a single byte.
    _setmode(_fileno(stdout), _O_BINARY);
    // The record buffer is allocated, not static: this toolchain keeps a
    // zero-filled static array in the program file, 32 KiB of zeros.
    std::vector<char> record(RECORD_BUFFER_SIZE, '\0');
    OutputRefusal refusal = OUTPUT_OPEN_FAILED;
    int failure = GetProcessesData(record.data(), s_outputPath.c_str(), &refusal);
    // The record of the last process handled, if it yielded one.
    std::fputs(record.data(), stdout);
    LogMessage("TaskRoll Terminated");
    FreeLogFile();
    return failure == RUN_LISTED ? 0 : ReportFailure(failure, s_outputPath, refusal);
}
