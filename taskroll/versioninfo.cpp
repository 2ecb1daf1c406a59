#include "versioninfo.h"

#include "bounded.h"
#include "debuglog.h"
#include "internal.h"
#include "settings.h"
#include "text.h"
#include "versionreader.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// A string that the worker chose, as the output keeps it: a worker taken
// over by a crafted file may send a text that ends in half a character,
// which would take the record's '$' or line end as its second half.
std::string RecordText(const std::string& text)
{
    return text.substr(0, CutOnCharacter(text.data(), text.size(), PATH_BUFFER_SIZE - 1, AnsiLeadBytes()));
}

void TakeAnswer(const DescribeAnswer& answer, const char* logPath, ModuleFile* file)
{
    VersionResource& resource = file->resource;
    file->kind = answer.kind == DESCRIBED_MISSING ? FILE_MISSING
                 : answer.kind == DESCRIBED_NOT_ON_DISK ? FILE_NOT_ON_DISK
                                                        : FILE_ON_DISK;
    resource.reused = answer.reused;
    if (answer.failedBefore) {
        file->lines.push_back("File '" + std::string(logPath) +
                              "' ended the version reader process before; it is not read again");
        resource.state = VERSION_READ;
        resource.damaged = true;
        return;
    }
    resource.state = answer.state == DESCRIBED_READ         ? VERSION_READ
                     : answer.state == DESCRIBED_UNREADABLE ? VERSION_UNREADABLE
                                                            : VERSION_NONE;
    resource.damaged = answer.damaged && resource.state == VERSION_READ;
    if (resource.state != VERSION_READ)
        return;
    for (std::size_t i = 0; i < READER_NAMES; ++i) {
        resource.chosen.emplace_back();
        ChosenStrings& chosen = resource.chosen.back();
        chosen.name = READER_NAME_TEXTS[i];
        chosen.found = answer.strings[i].found;
        for (const std::string& text : answer.strings[i].texts)
            chosen.texts.push_back(RecordText(text));
    }
}

}  // namespace

void AskModuleFile(const char* path, const wchar_t* unicodePath, const char* logPath, ModuleFile* file)
{
    *file = ModuleFile();
    ModuleReply reply;
    DescribeModuleFile(path, unicodePath, logPath, &reply);
    file->lines.swap(reply.lines);
    try {
        switch (reply.outcome) {
        case READER_ANSWERED:
            TakeAnswer(reply.answer, logPath, file);
            return;
        case READER_TIMED_OUT:
        case READER_FAILED:
            // Not read: the default texts stand, and so does the file.
            file->resource.state = VERSION_READ;
            file->resource.damaged = true;
            return;
        case READER_REFUSED:
            file->resource.state = VERSION_UNREADABLE;
            file->resource.notRead = true;
            return;
        }
    } catch (...) {
        file->resource = VersionResource();  // out of memory: the defaults
        file->resource.state = VERSION_UNREADABLE;
    }
}

void LogModuleFile(const char* logPath, const ModuleFile& file)
{
    if (file.resource.reused)
        LogMessage("Version resource of file '%s' was read for an earlier record; it is used again", logPath);
    for (const std::string& line : file.lines)
        LogMessage("%s", line.c_str());
    if (file.resource.damaged)
        LogMessage("Damaged version resource in file '%s': only its intact parts are read", logPath);
}

void ReadVersionResource(const char* path, VersionResource* resource, const wchar_t* unicodePath)
{
    ModuleFile file;
    char fullPath[PATH_BUFFER_SIZE] = {};
    wchar_t fullUnicode[PATH_BUFFER_SIZE] = {};
    DWORD length = unicodePath != nullptr ? GetFullPathNameW(unicodePath, PATH_BUFFER_SIZE, fullUnicode, nullptr)
                                          : GetFullPathNameA(path, PATH_BUFFER_SIZE, fullPath, nullptr);
    *resource = VersionResource();
    if (length == 0 || length >= PATH_BUFFER_SIZE)
        return;
    AskModuleFile(fullPath, unicodePath != nullptr ? fullUnicode : nullptr, path, &file);
    LogModuleFile(path, file);
    if (file.kind == FILE_ON_DISK)
        *resource = std::move(file.resource);
}

int FormatString(char* buffer, int size, const char* format, ...)
{
    LogTrace("FormatString");
    if (buffer == nullptr || size <= 0)
        return 0;
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(buffer, static_cast<std::size_t>(size), format, arguments);
    va_end(arguments);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length < size ? length : size - 1;
}

int GetVersionInfo(const char* name, char* output, const char* path, const VersionResource& resource,
                   const char* defaultText)
{
    LogTrace("GetVersionInfo");
    if (resource.state == VERSION_NONE) {
        LogMessage("Failed to extract version information from file '%s' (section '%s')", path, name);
        CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
        return 0;
    }
    const ChosenStrings* chosen = nullptr;
    for (const ChosenStrings& choice : resource.chosen)
        chosen = choice.name == name ? &choice : chosen;
    if (resource.state == VERSION_READ && chosen != nullptr) {
        for (const std::string& text : chosen->texts) {
            FormatString(output, static_cast<int>(PATH_BUFFER_SIZE), "%s", text.c_str());
            LogMessage("Extracted file version from file '%s' (section '%s'): %s", path, name, output);
        }
        if (chosen->found)
            return 1;
    }
    CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
    return 0;
}
