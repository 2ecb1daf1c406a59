// TaskRoll's command line read into its settings. The black-box guard of the
// whole run, log lines included, is tests/taskroll/test_cmdline.cpp.
#include "cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CommandLine, ReadIntoSettings)
{
    const std::string path259(259, 'f');
    const struct {
        std::vector<std::string> arguments;
        bool usage, log;
        unsigned tests;  // value tests logged
        bool icon, privilege;
        std::string delimiter, name, inputPath;
    } cases[] = {
        {{}, false, false, 0, false, false, "\t", "TAB", ""},
        {{"/?", "/debuglog", "/icon"}, true, false, 0, false, false, "\t", "TAB", ""},
        {{"/icon", "/debuglog", "/?", "/setpriv"}, true, true, 2, true, false, "\t", "TAB", ""},
        {{"/setpriv", "/debuglog", "/setpriv", "/debuglog"}, false, true, 4, false, true, "\t", "TAB", ""},
        {{"/DEBUGLOG", "/Icon", "/SetPriv", "/Delim:COMMA", "/x"}, false, false, 0, false, false, "\t", "TAB", ""},
        {{"/delim:COMMA", "/debuglog", "/delim:SEMIC"}, false, true, 3, false, false, ";", "SEMIC", ""},
        {{"/delim:COMMA", "/delim:123456789"}, false, false, 0, false, false, "\t", "TAB", ""},
        {{"/delim:COMMA", "/delim:1234567890", "/delim:"}, false, false, 0, false, false, ",", "COMMA", ""},
        {{"/debuglog", "/file:a", "/file:", "/file:" + path259 + "f"}, false, true, 8, false, false, "\t", "TAB", "a"},
        {{"/file:a", "/file:" + path259}, false, false, 0, false, false, "\t", "TAB", path259},
        {{"/file:/delim:COMMA"}, false, false, 0, false, false, "\t", "TAB", "/delim:COMMA"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"TaskRoll.exe"};
        std::string shown;
        for (const std::string& argument : c.arguments) {
            argv.push_back(argument.c_str());
            shown += argument.substr(0, 20) + " ";
        }
        SCOPED_TRACE(shown);
        TaskRollSettings settings;
        settings.icon = true;  // read from the defaults, not from what was there
        ReadCommandLine(static_cast<int>(argv.size()), argv.data(), &settings);
        EXPECT_EQ(settings.showUsage, c.usage);
        EXPECT_EQ(settings.debugLog, c.log);
        EXPECT_EQ(settings.loggedValueTests, c.tests);
        EXPECT_EQ(settings.icon, c.icon);
        EXPECT_EQ(settings.setPrivilege, c.privilege);
        EXPECT_EQ(settings.fieldDelimiter, c.delimiter);
        EXPECT_EQ(settings.delimiterName, c.name);
        EXPECT_EQ(settings.inputPath, c.inputPath);
    }
}
