// TaskRoll's command line: the arguments are the input's NUL-separated texts.
// The settings always hold one of the three delimiters with its own name, an
// input path that is one argument's value and fits its buffer, no more logged
// value tests than two per argument, and the same arguments give the same settings.
#include "cmdline.h"
#include "fuzzcheck.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments = {"TaskRoll.exe"};
    for (std::size_t start = 0; start <= input.size();) {
        std::size_t end = input.find('\0', start);
        end = end == std::string::npos ? input.size() : end;
        arguments.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());

    TaskRollSettings settings;
    ReadCommandLine(static_cast<int>(argv.size()), argv.data(), &settings);
    const std::string delimiter = settings.fieldDelimiter, name = settings.delimiterName;
    FUZZ_CHECK((delimiter == "\t" && name == "TAB") || (delimiter == "," && name == "COMMA") ||
               (delimiter == ";" && name == "SEMIC"));
    const std::size_t pathLength = strnlen(settings.inputPath, sizeof settings.inputPath);
    FUZZ_CHECK(pathLength < sizeof settings.inputPath);
    bool given = pathLength == 0;
    for (const std::string& argument : arguments)
        given = given || argument == "/file:" + std::string(settings.inputPath);
    FUZZ_CHECK(given);
    FUZZ_CHECK(settings.loggedValueTests <= 2 * (arguments.size() - 1));
    FUZZ_CHECK(settings.debugLog || settings.loggedValueTests == 0);

    TaskRollSettings again;
    ReadCommandLine(static_cast<int>(argv.size()), argv.data(), &again);
    FUZZ_CHECK(std::memcmp(again.inputPath, settings.inputPath, sizeof settings.inputPath) == 0 &&
               again.showUsage == settings.showUsage && again.loggedValueTests == settings.loggedValueTests &&
               again.icon == settings.icon && again.setPrivilege == settings.setPrivilege &&
               std::strcmp(again.fieldDelimiter, settings.fieldDelimiter) == 0);
    return 0;
}
