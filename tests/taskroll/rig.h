#pragma once
// What the TaskRoll tests share beyond testkit: a working directory with its
// own copy of TaskRoll.exe (so that the debug log, which lies beside the
// executable, lands there too) and a readable form of the debug log.
#include "testkit.h"

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace rig {

struct Rig {
    testkit::TempDir dir;
    std::wstring exe = dir / L"TaskRoll.exe";

    explicit Rig(const std::wstring& program = testkit::Sibling(L"TaskRoll.exe"))
    {
        EXPECT_TRUE(testkit::CopyTo(program, exe));
    }

    // A run that lists ends with exit code 0 and writes nothing to standard
    // error; one that cannot list ends with its own code and says why there.
    testkit::RunResult Run(const std::wstring& arguments, const std::wstring& workDir = L"", DWORD exitCode = 0)
    {
        testkit::RunResult run = testkit::RunTool(exe, arguments, workDir.empty() ? dir.Path() : workDir);
        EXPECT_EQ(run.exitCode, exitCode) << testkit::NarrowAnsi(arguments);
        if (exitCode == 0) {
            EXPECT_BYTES("", run.err);
        }
        return run;
    }
    std::string Read(const std::wstring& name) const { return testkit::ReadBytes(dir / name); }
};

// A program of the other architecture's build, which lies in the sibling tree
// (build/x64/bin beside build/x86/bin); empty when that build is not there.
inline std::wstring OtherBuild(const std::wstring& fileName)
{
    const std::wstring dir = testkit::ProgramDir();
    const std::wstring own = sizeof(void*) == 8 ? L"\\x64\\bin\\" : L"\\x86\\bin\\";
    const std::wstring other = sizeof(void*) == 8 ? L"\\x86\\bin\\" : L"\\x64\\bin\\";
    if (dir.size() < own.size() || dir.compare(dir.size() - own.size(), own.size(), own) != 0)
        return std::wstring();
    std::wstring path = dir.substr(0, dir.size() - own.size()) + other + fileName;
    return testkit::FileExists(path) ? path : std::wstring();
}

// The log with each well-formed time prefix ("HH:MM:SS: ", a valid time of
// day) turned into "T: " and each trace line's tick count into "N". A prefix
// of another shape stays as it is, so that a comparison shows it.
inline std::string Normalized(const std::string& log)
{
    static const std::regex prefix("(^|\\n)([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]: ");
    static const std::regex tick("(^|\\n)T: \\([0-9]+\\) >>>> Function: ");
    std::string text = std::regex_replace(log, prefix, "$1T: ");
    return std::regex_replace(text, tick, "$1T: (N) >>>> Function: ");
}

// The run banner and the line after it, as Normalized shows them.
inline const std::string BANNER = "T: \r\n\r\n\r\n\r\n\r\n===============\r\nT: Logging started\r\n";

// `count` trace lines of the function `name`, as Normalized shows them.
inline std::string Trace(const std::string& name, int count = 1)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "T: (N) >>>> Function: " + name + "\r\n";
    return lines;
}

inline bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The normalized log up to the end of the first line that holds `marker`.
inline std::string UpTo(const std::string& text, const std::string& marker)
{
    std::size_t at = text.find(marker);
    if (at == std::string::npos)
        return text;
    std::size_t end = text.find("\r\n", at);
    return text.substr(0, end == std::string::npos ? text.size() : end + 2);
}

// Each message is a whole line of the normalized log, after the one before it;
// other lines may come between them.
inline ::testing::AssertionResult InOrder(const std::string& normalized, const std::vector<std::string>& messages)
{
    const std::string text = "\n" + normalized;
    std::size_t from = 0;
    for (const std::string& message : messages) {
        std::string line = "\nT: " + message + "\r\n";
        std::size_t at = text.find(line, from);
        if (at == std::string::npos)
            return ::testing::AssertionFailure() << "no line \"" << testkit::Escape(message) << "\" in order in:\n"
                                                 << testkit::Escape(normalized);
        from = at + line.size() - 1;
    }
    return ::testing::AssertionSuccess();
}

// "0123456789" repeated up to `length` bytes, as the long fixture descriptions read.
inline std::string Digits(std::size_t length)
{
    std::string text;
    while (text.size() < length)
        text += static_cast<char>('0' + text.size() % 10);
    return text;
}

// The lines of a file, each without its CR LF.
inline std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    if (start < bytes.size())
        lines.push_back(bytes.substr(start));
    return lines;
}

// The names in a directory, sorted: what a run left there.
inline std::vector<std::wstring> Names(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    handles::FindHandle search(FindFirstFileW((dir + L"\\*").c_str(), &entry));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.Get(), &entry))
        names.push_back(entry.cFileName);
    std::sort(names.begin(), names.end());
    return std::vector<std::wstring>(names.begin() + 2, names.end());  // after "." and ".."
}

// The size of a run's new file in `dir`; -1 while there is none.
inline long long NewFileSize(const std::wstring& dir)
{
    WIN32_FIND_DATAW entry;
    handles::FindHandle search(FindFirstFileW((dir + L"\\processes.dat.*.new").c_str(), &entry));
    return search ? static_cast<long long>(entry.nFileSizeLow) : -1;
}

}  // namespace rig
