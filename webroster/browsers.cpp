#include "browsers.h"

#include "handles.h"
#include "regtext.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

namespace {

// A plain array, not a std::wstring: a global whose construction can throw
// would end the program before main could catch anything.
constexpr wchar_t LIST_KEY_PATH[] = L"SOFTWARE\\Clients\\StartMenuInternet\\";

// Webroster ships as a 32-bit program; without KEY_WOW64_64KEY Windows would
// show it the 32-bit view (Wow6432Node), where 64-bit browsers are not registered.
constexpr REGSAM READ_64_BIT_VIEW = KEY_READ | KEY_WOW64_64KEY;

// The registry's longest key name, 255 characters, and its NUL.
constexpr DWORD SUBKEY_NAME_SIZE = 256;

// How often the names of a list that keeps changing are read before the last
// read is taken as it is.
constexpr int NAME_READS_MAX = 5;

// Standard output is in UTF-16 text mode, where the runtime writes each "\n"
// as CR LF and everything else, a lone CR included, unchanged. The flush hands
// a reader every line as soon as it is complete.
void WriteLine(const std::wstring& line)
{
    std::fputws(line.c_str(), stdout);
    std::fflush(stdout);
}

// The registry-data rules live in the core (regtext.h), built and fuzzed
// without Windows; these two turn their units into the program's wide texts.
std::wstring TextOfData(const BYTE* data, DWORD dataBytes)
{
    std::wstring text(RegistryTextUnits(data, dataBytes), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(RegistryTextUnit(data, i));
    return text;
}

std::wstring OnOneLine(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(OneLineUnit(static_cast<std::uint16_t>(c)));
    return text;
}

// The key's number of subkeys and its last-write time.
bool GetListState(HKEY key, DWORD* count, FILETIME* written)
{
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, count, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, written) == ERROR_SUCCESS;
}

// One pass over the indexes below `count`, counted before: a subkey removed
// meanwhile leaves an index that no longer reads, and it is skipped.
std::vector<std::wstring> ReadSubKeyNames(HKEY key, DWORD count)
{
    std::vector<std::wstring> names;
    for (DWORD index = 0; index < count; ++index) {
        wchar_t name[SUBKEY_NAME_SIZE];
        DWORD length = SUBKEY_NAME_SIZE;
        FILETIME written;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS)
            names.push_back(name);
    }
    return names;
}

}  // namespace

std::vector<std::wstring> GetSubKeyNames(HKEY key)
{
    // The registry enumerates by index, and an index shifts under the reader
    // when a subkey before it is added or removed: a browser nobody touched
    // would be read twice or not at all. Every subkey added or removed sets
    // the key's last-write time, so names read between two queries that agree
    // are a snapshot. The count is compared too: the time has the resolution
    // of the system clock's tick, and a single change in the same tick as the
    // one before it leaves the time as it was, but not the count.
    std::vector<std::wstring> names;
    DWORD count = 0;
    FILETIME before = {};
    if (!GetListState(key, &count, &before))
        return names;
    for (int read = 1; read <= NAME_READS_MAX; ++read) {
        names = ReadSubKeyNames(key, count);
        DWORD countAfter = 0;
        FILETIME after = {};
        // A key that cannot be queried any more (deleted meanwhile) has
        // nothing better to give than this read.
        if (!GetListState(key, &countAfter, &after) ||
            (countAfter == count && CompareFileTime(&after, &before) == 0))
            return names;
        count = countAfter;
        before = after;
    }
    // The list never held still: of a name read twice (the same subkey met
    // again at a shifted index) only the first is kept.
    std::set<std::wstring> seen;
    std::vector<std::wstring> unique;
    for (std::wstring& name : names) {
        if (seen.insert(name).second)
            unique.push_back(std::move(name));
    }
    return unique;
}

std::wstring GetDefaultValue(HKEY key)
{
    // The default value is the one with the empty name; asked for by that
    // name, it takes one call instead of a walk through all the key's values.
    // Most values fit the first buffer; a larger one is read again at its size.
    std::vector<BYTE> data(512);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD dataBytes = static_cast<DWORD>(data.size());
        LONG error = RegQueryValueExW(key, L"", nullptr, nullptr, data.data(), &dataBytes);
        if (error == ERROR_SUCCESS && dataBytes <= data.size())
            return TextOfData(data.data(), dataBytes);
        if (error != ERROR_MORE_DATA)
            return std::wstring();
        data.assign(dataBytes, 0);
    }
    // The value grew again between the two reads: taken as not there.
    return std::wstring();
}

std::wstring GetBrowserLine(HKEY hive, const std::wstring& name)
{
    // Each key is opened by its full path from the hive's root: a browser
    // removed since its name was read gets its line, with "null" in both fields.
    // The client key is closed before the command key is opened.
    std::wstring line = OnOneLine(name) + L"|";
    {
        handles::RegistryKey client;
        std::wstring clientPath = LIST_KEY_PATH + name + L"\\";
        if (RegOpenKeyExW(hive, clientPath.c_str(), 0, READ_64_BIT_VIEW, client.Receive()) == ERROR_SUCCESS)
            line += OnOneLine(GetDefaultValue(client.Get()));
        else
            line += L"null";
    }
    line += L"|";
    handles::RegistryKey command;
    std::wstring commandPath = LIST_KEY_PATH + name + L"\\shell\\open\\command\\";
    if (RegOpenKeyExW(hive, commandPath.c_str(), 0, READ_64_BIT_VIEW, command.Receive()) == ERROR_SUCCESS) {
        std::wstring value = OnOneLine(GetDefaultValue(command.Get()));
        command.Reset();
        // A command that starts with a quote is taken as already quoted, even
        // without a closing one; any other, an empty one included, is quoted here.
        if (!value.empty() && value[0] == L'"')
            line += value;
        else
            line += L"\"" + value + L"\"";
    } else {
        line += L"\"null\"";
    }
    return line + L"\n";
}

int ListBrowsers(HKEY hive)
{
    // All names are read, and the list key closed, before the first line is
    // written: a slow reader of the output cannot stretch the read of the
    // names, and the key is held no longer than that read.
    std::vector<std::wstring> names;
    {
        handles::RegistryKey list;
        LONG error = RegOpenKeyExW(hive, LIST_KEY_PATH, 0, READ_64_BIT_VIEW, list.Receive());
        if (error != ERROR_SUCCESS) {
            WriteLine(L"RegOpenKeyEx failed, error code" + std::to_wstring(error) + L"\n");
            return 0;
        }
        names = GetSubKeyNames(list.Get());
    }
    for (const std::wstring& name : names)
        WriteLine(GetBrowserLine(hive, name));
    return 0;
}
