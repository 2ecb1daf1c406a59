#include "namelist.h"

#include "debuglog.h"
#include "files.h"
#include "settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

std::vector<std::string> s_names;

// Text mode already stops at a Ctrl-Z; testing for it here as well keeps the
// rule independent of the runtime's text-mode handling.
constexpr int END_OF_DATA = 0x1A;

}  // namespace

void AppendName(const char* name)
{
    s_names.emplace_back(name);
}

std::size_t GetNameCount()
{
    return s_names.size();
}

const char* GetName(std::size_t index)
{
    return s_names[index].c_str();
}

void ClearNameList()
{
    s_names.clear();
}

void GetTaskRollFromFile(const char* path)
{
    LogTrace("GetTaskRollFromFile");
    // Windows' runtime refuses an empty path with EINVAL, Wine's with ENOENT;
    // the log must tell the same number on both.
    bool emptyPath = path == nullptr || path[0] == '\0';
    // A device or a pipe may never end its data, and the run would wait for it.
    if (!emptyPath && CheckFileKind(path) == FILE_NOT_ON_DISK) {
        LogMessage("%s: the input process list file is not a file on disk (a device or a pipe); it is not read", path);
        return;
    }
    FILE* input = emptyPath ? nullptr : std::fopen(path, "r");
    if (input == nullptr) {
        LogMessage("Failed to open input process list file: nError %d", emptyPath ? EINVAL : errno);
        return;
    }

    // A name holds at most PATH_BUFFER_SIZE - 1 bytes; the last byte stays NUL.
    // A NUL byte read from the file cuts the name there, as the line is taken
    // up to its first NUL.
    char line[PATH_BUFFER_SIZE] = {};
    std::size_t length = 0;
    try {
        for (;;) {
            int byte = std::fgetc(input);
            if (byte == EOF || byte == END_OF_DATA) {
                // The last line may lack its line end; what the user typed is
                // still a name. A read error may have cut it, so it is dropped then.
                if (length > 0 && !std::ferror(input))
                    AppendName(line);
                break;
            }
            if (byte == '\r' || byte == '\n') {
                if (length > 0)
                    AppendName(line);
                length = 0;
                std::memset(line, 0, sizeof line);
                continue;
            }
            if (length == sizeof line - 1) {
                LogMessage("Too long line found in the input file");
                break;
            }
            line[length++] = static_cast<char>(byte);
        }
    } catch (const std::bad_alloc&) {
        LogMessage("Not enough memory for the input file's names; the names read so far are used");
    }
    std::fclose(input);
}
