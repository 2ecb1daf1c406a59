#include "namelist.h"

#include "debuglog.h"
#include "files.h"
#include "internal.h"
#include "namelines.h"
#include "recordpath.h"
#include "settings.h"
#include "text.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct ListedName {
    std::string name;      // in the ANSI code page; EscapedPath for a name the code page cannot hold
    std::wstring unicode;  // the name as listed where the code page cannot hold it; empty otherwise
};

std::vector<ListedName> s_names;

static_assert(NAME_LINE_SIZE == PATH_BUFFER_SIZE, "a listed name is a path");
static_assert(sizeof(wchar_t) == sizeof(std::uint16_t), "a name of a Unicode list is UTF-16");

const char* EncodingName(NameListEncoding encoding)
{
    switch (encoding) {
    case NAME_LIST_UTF16LE:
        return "UTF-16 LE";
    case NAME_LIST_UTF16BE:
        return "UTF-16 BE";
    case NAME_LIST_UTF8:
        return "UTF-8";
    default:
        return "ANSI";
    }
}

// Appends the name `reader` holds. A name of a Unicode list that the code page
// holds is the ANSI name an ANSI list would give; any other keeps its UTF-16
// units, through which alone the file is checked and read. Throws
// std::bad_alloc when memory runs out.
void AppendName(const NameLineReader& reader)
{
    ListedName listed;
    if (reader.encoding == NAME_LIST_ANSI) {
        listed.name.assign(reader.name, reader.name + reader.nameLength);
    } else {
        std::wstring wide(reader.name, reader.name + reader.nameLength);
        if (!ToAnsiLossless(wide.c_str(), &listed.name) || listed.name.size() >= PATH_BUFFER_SIZE) {
            listed.name = EscapedPath(reader.name, reader.nameLength);
            listed.unicode = wide;
        }
    }
    s_names.push_back(std::move(listed));
}

// Lines of one kind that were skipped, for the one line of standard error about them.
struct SkippedLines {
    std::size_t count = 0;
    std::size_t first = 0;
};

void Skip(SkippedLines* skipped, std::size_t lineNumber)
{
    if (skipped->count++ == 0)
        skipped->first = lineNumber;
}

void Note(std::vector<std::string>* notes, const SkippedLines& skipped, const char* what)
{
    if (skipped.count == 0)
        return;
    char note[160];
    if (skipped.count == 1)
        std::snprintf(note, sizeof note, "line %zu of the input file is %s and is skipped", skipped.first, what);
    else
        std::snprintf(note, sizeof note, "%zu lines of the input file, the first line %zu, are %s and are skipped",
                      skipped.count, skipped.first, what);
    notes->push_back(note);
}

// The names of the open file `input`, read as bytes: its first bytes tell the encoding.
void ReadNames(FILE* input, std::vector<std::string>* notes)
{
    std::uint8_t start[3] = {};
    const std::size_t got = std::fread(start, 1, sizeof start, input);
    std::size_t at = 0;
    NameLineReader reader;
    reader.encoding = ReadNameListMark(start, got, &at);
    const char* encoding = EncodingName(reader.encoding);
    if (reader.encoding != NAME_LIST_ANSI)
        LogMessage("The input file is %s text: it begins with that byte-order mark", encoding);
    SkippedLines tooLong, undecodable;
    for (;;) {
        int byte = at < got ? start[at++] : std::fgetc(input);
        NameLineEvent event = ReadNameByte(&reader, byte == EOF ? NAME_INPUT_END : byte);
        if (event == NAME_LIST_ENDS)
            break;
        // A read error may have cut the last line: it is dropped then.
        if (event == NAME_LINE_ENDS && !(byte == EOF && std::ferror(input))) {
            AppendName(reader);
        } else if (event == NAME_LINE_TOO_LONG) {
            LogMessage("Too long line found in the input file");
            LogMessage("Line %u of the input file is longer than 259 characters; it is skipped",
                       static_cast<unsigned>(reader.lineNumber));
            Skip(&tooLong, reader.lineNumber);
        } else if (event == NAME_LINE_UNDECODABLE) {
            LogMessage("Line %u of the input file is not valid %s text; it is skipped",
                       static_cast<unsigned>(reader.lineNumber), encoding);
            Skip(&undecodable, reader.lineNumber);
        }
    }
    Note(notes, tooLong, "longer than 259 characters");
    Note(notes, undecodable, reader.encoding == NAME_LIST_UTF8 ? "not valid UTF-8" : "cut inside a character");
    if (reader.nulByte) {
        LogMessage("The input file holds NUL bytes and no byte-order mark: it looks like UTF-16 without its mark; "
                   "its names are read as ANSI text, each up to its first NUL");
        notes->push_back("the input file holds NUL bytes and no byte-order mark: it looks like UTF-16 without its "
                         "mark; its names are read as ANSI text");
    }
}

}  // namespace

std::size_t GetNameCount()
{
    return s_names.size();
}

const char* GetName(std::size_t index)
{
    return s_names[index].name.c_str();
}

const wchar_t* GetUnicodeName(std::size_t index)
{
    return s_names[index].unicode.empty() ? nullptr : s_names[index].unicode.c_str();
}

void ClearNameList()
{
    s_names.clear();
}

std::vector<std::string> GetTaskRollFromFile(const char* path)
{
    LogTrace("GetTaskRollFromFile");
    std::vector<std::string> notes;
    // Windows' runtime refuses an empty path with EINVAL, Wine's with ENOENT;
    // the log must tell the same number on both.
    bool emptyPath = path == nullptr || path[0] == '\0';
    FILE* input = nullptr;
    // A device or a pipe may never end its data, and the run would wait for it.
    if (!emptyPath && CheckFileKind(path) == FILE_NOT_ON_DISK) {
        LogMessage("%s: the input process list file is not a file on disk (a device or a pipe); it is not read", path);
    } else {
        // Bytes as they stand: a CR inside a UTF-16 character must not end a
        // line, nor a 0x1A byte the file. Without a mark the names are those
        // that text mode gave, which only joined CR LF and stopped at a Ctrl-Z.
        input = emptyPath ? nullptr : std::fopen(path, "rb");
        if (input == nullptr)
            LogMessage("Failed to open input process list file: nError %d", emptyPath ? EINVAL : errno);
    }
    try {
        // Without /file: there is no list to tell of.
        if (input == nullptr && !emptyPath)
            notes.push_back("the input file cannot be read; the running processes are listed instead");
        if (input == nullptr)
            return notes;
        const std::size_t before = s_names.size();
        ReadNames(input, &notes);
        if (s_names.size() == before)
            notes.push_back("the input file holds no names; the running processes are listed instead");
    } catch (...) {
        // Out of memory, or any other failure to grow the list.
        LogMessage("Not enough memory for the input file's names; the names read so far are used");
    }
    if (input != nullptr)
        std::fclose(input);
    return notes;
}
