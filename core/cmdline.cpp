#include "cmdline.h"

#include "bounded.h"

#include <cstring>

namespace {

// Takes the value after `prefix` when the argument starts with it and the value
// is neither empty nor too long for the destination; otherwise leaves the
// destination unchanged.
bool TakeOptionValue(const char* argument, const char* prefix, char* destination, std::size_t destinationSize)
{
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
void SelectDelimiter(const char* value, TaskRollSettings* settings)
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
    CopyBounded(settings->fieldDelimiter, sizeof settings->fieldDelimiter, chosen->byte);
    settings->delimiterName = chosen->name;
}

}  // namespace

void ReadCommandLine(int argc, const char* const* argv, TaskRollSettings* settings)
{
    *settings = TaskRollSettings();
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "/?") == 0) {
            settings->showUsage = true;
            return;
        }
        // "/debuglog" and "/icon" also go through the two value tests below,
        // which they fail; "/setpriv" goes through none.
        if (std::strcmp(argument, "/debuglog") == 0)
            settings->debugLog = true;
        if (std::strcmp(argument, "/icon") == 0)
            settings->icon = true;
        if (std::strcmp(argument, "/setpriv") == 0) {
            settings->setPrivilege = true;
            continue;
        }
        char delimiterValue[DELIMITER_VALUE_SIZE];
        unsigned valueTests = 1;
        if (TakeOptionValue(argument, "/delim:", delimiterValue, sizeof delimiterValue)) {
            SelectDelimiter(delimiterValue, settings);
        } else {
            valueTests = 2;
            TakeOptionValue(argument, "/file:", settings->inputPath, sizeof settings->inputPath);
        }
        if (settings->debugLog)
            settings->loggedValueTests += valueTests;
    }
}
