#include "namelist.h"

#include "debuglog.h"
#include "files.h"
#include "internal.h"
#include "namelines.h"
#include "settings.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> s_names;

static_assert(NAME_LINE_SIZE == PATH_BUFFER_SIZE, "a listed name is a path");

}  // namespace

namespace {

// Appends a copy of `name`. Throws std::bad_alloc when memory runs out.
void AppendName(const char* name)
{
    s_names.emplace_back(name);
}

}  // namespace

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

    // A name holds at most NAME_LINE_SIZE - 1 (PATH_BUFFER_SIZE - 1) bytes.
    NameLineReader reader;
    try {
        for (;;) {
            int byte = std::fgetc(input);
            NameLineEvent event = ReadNameByte(&reader, byte == EOF ? NAME_INPUT_END : byte);
            if (event == NAME_LINE_ENDS) {
                AppendName(reader.line);
            } else if (event == NAME_LIST_ENDS) {
                // The last line may lack its line end; what the user typed is
                // still a name. A read error may have cut it, so it is dropped then.
                if (reader.length > 0 && !std::ferror(input))
                    AppendName(reader.line);
                break;
            } else if (event == NAME_LINE_TOO_LONG) {
                LogMessage("Too long line found in the input file");
                break;
            }
        }
    } catch (...) {
        // Out of memory, or any other failure to grow the list.
        LogMessage("Not enough memory for the input file's names; the names read so far are used");
    }
    std::fclose(input);
}
