#include "versioninfo.h"

#include "debuglog.h"
#include "settings.h"
#include "text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int QUERY_BUFFER_SIZE = 520;

struct Translation {
    WORD language;
    WORD codePage;
};

}  // namespace

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

int GetVersionInfo(const char* name, char* output, const char* path, const char* defaultText)
{
    LogTrace("GetVersionInfo");
    if (path == nullptr)
        return 0;

    char probe[QUERY_BUFFER_SIZE] = {};
    char query[QUERY_BUFFER_SIZE] = {};
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        LogMessage("Failed to extract version information from file '%s' (section '%s')", path, name);
        CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
        return 0;
    }

    int result = 0;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    void* block = memory ? GlobalLock(memory) : nullptr;
    if (block != nullptr && GetFileVersionInfoA(path, handle, size, block)) {
        Translation* translations = nullptr;
        UINT translationBytes = 0;
        VerQueryValueA(block, "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &translationBytes);
        if (translations == nullptr)
            translationBytes = 0;
        // Every entry is visited; the last one whose table has a FileDescription
        // decides the result, even when an earlier one found the string.
        for (UINT i = 0; i < translationBytes / sizeof(Translation); ++i) {
            const Translation entry = translations[i];
            char* value = nullptr;
            UINT valueLength = 0;
            wsprintfA(probe, "\\StringFileInfo\\%04x%04x\\FileDescription", entry.language, entry.codePage);
            if (!VerQueryValueA(block, probe, reinterpret_cast<void**>(&value), &valueLength))
                continue;
            wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", entry.language, entry.codePage, name);
            result = VerQueryValueA(block, query, reinterpret_cast<void**>(&value), &valueLength) && value != nullptr;
            if (result) {
                FormatString(output, static_cast<int>(PATH_BUFFER_SIZE), "%s", value);
                LogMessage("Extracted file version from file '%s' (section '%s'): %s", path, name, output);
            }
        }
    }
    if (block != nullptr)
        GlobalUnlock(memory);
    if (memory != nullptr)
        GlobalFree(memory);

    if (result)
        return result;
    CopyBounded(output, PATH_BUFFER_SIZE, defaultText);
    return 0;
}
