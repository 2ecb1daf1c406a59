#pragma once
// What the two TaskRoll floors share: one reading of a file's version resource
// and one record in TaskRoll's format, path TAB TAB description '$' CR LF.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace floors {

struct Translation {
    WORD language;
    WORD codePage;
};

// The FileDescription of the file's first translation, or nullptr.
inline const char* Describe(const char* path, std::vector<char>& block)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return nullptr;
    if (block.size() < size)
        block.resize(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data()))
        return nullptr;
    Translation* translations = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &bytes) ||
        translations == nullptr || bytes < sizeof(Translation))
        return nullptr;
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\FileDescription", translations[0].language,
                  translations[0].codePage);
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&value), &length) || value == nullptr)
        return nullptr;
    return value;
}

// Writes the record of `path`; descriptions are cut at 259 bytes and every '$'
// is an 'S', as TaskRoll writes them.
inline void WriteRecord(FILE* output, const char* path, const char* description)
{
    char record[2048];
    std::snprintf(record, sizeof record, "%s\t\t%.259s", path, description ? description : "unknown_description");
    for (char* c = record; *c != '\0'; ++c) {
        if (*c == '$')
            *c = 'S';
    }
    std::fputs(record, output);
    std::fputs("$\n", output);
}

}  // namespace floors
