#include "javacmd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD USER_NAME_SIZE = 1024;

// The line goes out as UTF-16 code units. Standard output is in binary mode
// by now, so each unit reaches the reader as two little-endian bytes, with
// no carriage return added; flushed at once so that it comes before anything
// the driver writes later.
void ReportUserNameError()
{
    static const wchar_t line[] = L"GetUserName error\n";
    std::fwrite(line, sizeof line[0], sizeof line / sizeof line[0] - 1, stdout);
    std::fflush(stdout);
}

// Steps after the open: size, mapping, view, search and copy. The mapping and
// the view are handed back so that the caller releases them on every exit,
// also when copying the value throws.
int MapAndCopyValue(HANDLE file, const char* key, std::string& value, HANDLE* mapping, const char** view)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return -2;
    if ((static_cast<unsigned long long>(size.QuadPart) >> 32) != 0)
        return -3;
    *mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (*mapping == nullptr)
        return -4;
    *view = static_cast<const char*>(MapViewOfFile(*mapping, FILE_MAP_READ, 0, 0, 0));
    if (*view == nullptr)
        return -5;
    // The mapping takes the file's size when it is made, not the size read
    // before: a file cut down in between gives a shorter view. The view's
    // own extent is what may be read.
    MEMORY_BASIC_INFORMATION region = {};
    std::size_t viewBytes = VirtualQuery(*view, &region, sizeof region) != 0 ? region.RegionSize : 0;
    // A file of 2 GiB or more gives a negative count, in which nothing is found.
    return FindPerfDataValue(*view, viewBytes, static_cast<int>(size.LowPart), key, value);
}

void ReleasePerfData(const char* view, HANDLE mapping, HANDLE file)
{
    if (view != nullptr)
        UnmapViewOfFile(view);
    if (mapping != nullptr)
        CloseHandle(mapping);
    CloseHandle(file);
}

}  // namespace

std::string GetPerfDataDir()
{
    char userName[USER_NAME_SIZE] = {};
    DWORD userNameSize = USER_NAME_SIZE;
    // Without the user name there is no directory to look in; a name relative
    // to the current directory would let a file planted there pass for a
    // process's command.
    if (!GetUserNameA(userName, &userNameSize)) {
        ReportUserNameError();
        return std::string();
    }
    const char* temp = std::getenv("TEMP");
    if (temp == nullptr)
        return std::string();
    // Joined as they are: a TEMP ending in a backslash gives two in a row,
    // which the file system accepts.
    return std::string(temp) + "\\" + "hsperfdata_" + userName + "\\";
}

void GetJavaCommandLine(DWORD processId, std::string& command)
{
    std::string path = GetPerfDataDir();
    if (path.empty())
        return;
    path += std::to_string(static_cast<unsigned long>(processId));
    std::string value;
    if (ReadPerfDataValue(path, "javaCommand", value) == 0)
        command = value;
}

int ReadPerfDataValue(const std::string& filePath, const std::string& key, std::string& value)
{
    // The virtual machine keeps its file open for writing while it runs.
    HANDLE file = CreateFileA(filePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;

    HANDLE mapping = nullptr;
    const char* view = nullptr;
    int code = 0;
    try {
        code = MapAndCopyValue(file, key.c_str(), value, &mapping, &view);
    } catch (...) {
        ReleasePerfData(view, mapping, file);
        throw;
    }
    ReleasePerfData(view, mapping, file);
    return code;
}
