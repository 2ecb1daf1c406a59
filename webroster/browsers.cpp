#include "browsers.h"

#include "handles.h"
#include "regtext.h"
#include "snapshot.h"

#include <cstdint>
#include <cstdio>

namespace {

// A plain array, not a std::wstring: a global whose construction can throw
// would end the program before main could catch anything.
constexpr wchar_t LIST_KEY_PATH[] = L"SOFTWARE\\Clients\\StartMenuInternet\\";

// Webroster ships as a 32-bit program; without KEY_WOW64_64KEY Windows would
// show it the 32-bit view (Wow6432Node), where 64-bit browsers are not registered.
constexpr REGSAM READ_64_BIT_VIEW = KEY_READ | KEY_WOW64_64KEY;

// The registry's longest key name, 255 characters, and its NUL.
constexpr DWORD SUBKEY_NAME_SIZE = 256;

// Standard output is in binary mode: each unit of a line goes out as it is,
// low byte first (as Windows keeps it in memory), and its "\n" as CR LF.
// The runtime's UTF-16 text mode would do the same but stops a line at a
// unit equal to WEOF, U+FFFF, which a registry name or value may hold. A
// console gets the same units through its wide output, as text mode gave it.
// The flush hands a reader every line as soon as it is complete.
void WriteLine(const std::wstring& line)
{
    std::wstring units;
    units.reserve(line.size() + 1);
    for (wchar_t unit : line) {
        if (unit == L'\n')
            units += L'\r';
        units += unit;
    }
    static HANDLE console = [] {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        return GetConsoleMode(out, &mode) ? out : nullptr;
    }();
    if (console) {
        DWORD written = 0;
        WriteConsoleW(console, units.data(), static_cast<DWORD>(units.size()), &written, nullptr);
        return;
    }
    std::fwrite(units.data(), sizeof(wchar_t), units.size(), stdout);
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

static_assert(sizeof(wchar_t) == sizeof(char16_t), "registry names are UTF-16 units");

// A registry key as the core's snapshot rule sees it: its number of subkeys,
// its last-write time, and the names of one pass over its indexes.
class SubKeySource : public NameListSource {
public:
    explicit SubKeySource(HKEY key) : key_(key) {}

    bool QueryState(NameListState* state) override
    {
        DWORD count = 0;
        FILETIME written = {};
        if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &written) != ERROR_SUCCESS)
            return false;
        state->count = count;
        state->written = static_cast<std::uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime;
        return true;
    }

    // One pass from index 0 until the enumeration ends. A subkey removed
    // meanwhile ends it early or shifts a name past the reader, and a name of
    // 255 characters does not fit: those are not in this reading. Subkeys
    // added meanwhile are read past the count asked before, since the names
    // they push there would be lost otherwise; the pass goes at most to twice
    // that count, so a list that grows without end cannot hold the run.
    std::vector<std::u16string> ReadNames(std::uint32_t count) override
    {
        std::vector<std::u16string> names;
        const std::uint64_t indexesMax = 2 * static_cast<std::uint64_t>(count) + 16;
        for (DWORD index = 0; index < indexesMax; ++index) {
            wchar_t name[SUBKEY_NAME_SIZE];
            DWORD length = SUBKEY_NAME_SIZE;
            FILETIME written;
            LONG error = RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, &written);
            if (error == ERROR_NO_MORE_ITEMS)
                break;
            if (error == ERROR_SUCCESS)
                names.emplace_back(reinterpret_cast<const char16_t*>(name), length);
        }
        return names;
    }

private:
    HKEY key_;
};

}  // namespace

std::vector<std::wstring> GetSubKeyNames(HKEY key)
{
    SubKeySource source(key);
    std::vector<std::wstring> names;
    for (const std::u16string& name : TakeNameSnapshot(source))
        names.emplace_back(name.begin(), name.end());
    return names;
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

std::wstring GetBrowserLine(HKEY hive, const std::wstring& name, const std::wstring& under)
{
    // Each key is opened by its full path from the hive's root: a browser
    // removed since its name was read gets its line, with "null" in both fields.
    // The client key is closed before the command key is opened.
    std::wstring line = OnOneLine(name) + L"|";
    {
        handles::RegistryKey client;
        std::wstring clientPath = under + LIST_KEY_PATH + name + L"\\";
        if (RegOpenKeyExW(hive, clientPath.c_str(), 0, READ_64_BIT_VIEW, client.Receive()) == ERROR_SUCCESS)
            line += OnOneLine(GetDefaultValue(client.Get()));
        else
            line += L"null";
    }
    line += L"|";
    handles::RegistryKey command;
    std::wstring commandPath = under + LIST_KEY_PATH + name + L"\\shell\\open\\command\\";
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

int ListBrowsers(HKEY hive, const std::wstring& under, const std::wstring& heading)
{
    if (!heading.empty())
        WriteLine(heading + L"\n");
    // All names are read, and the list key closed, before the first line is
    // written: a slow reader of the output cannot stretch the read of the
    // names, and the key is held no longer than that read.
    std::vector<std::wstring> names;
    {
        handles::RegistryKey list;
        LONG error = RegOpenKeyExW(hive, (under + LIST_KEY_PATH).c_str(), 0, READ_64_BIT_VIEW, list.Receive());
        if (error != ERROR_SUCCESS) {
            WriteLine(L"RegOpenKeyEx failed, error code" + std::to_wstring(error) + L"\n");
            return 0;
        }
        names = GetSubKeyNames(list.Get());
    }
    for (const std::wstring& name : names)
        WriteLine(GetBrowserLine(hive, name, under));
    return 0;
}
