#include "browsers.h"

#include "regtext.h"

#include <cstdio>

namespace {

const std::wstring LIST_KEY_PATH = L"SOFTWARE\\Clients\\StartMenuInternet\\";

// Webroster ships as a 32-bit program; without KEY_WOW64_64KEY Windows would
// show it the 32-bit view (Wow6432Node), where 64-bit browsers are not registered.
constexpr REGSAM READ_64_BIT_VIEW = KEY_READ | KEY_WOW64_64KEY;

// The registry's longest key name, 255 characters, and its NUL.
constexpr DWORD SUBKEY_NAME_SIZE = 256;

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

}  // namespace

std::vector<std::wstring> GetSubKeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    DWORD count = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    // The count is taken once: a subkey removed meanwhile leaves an index that
    // no longer reads, and it is skipped.
    for (DWORD index = 0; index < count; ++index) {
        wchar_t name[SUBKEY_NAME_SIZE];
        DWORD length = SUBKEY_NAME_SIZE;
        FILETIME written;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS)
            names.push_back(name);
    }
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

std::wstring GetBrowserLine(HKEY hive, const std::wstring& name)
{
    // Each key is opened by its full path from the hive's root: a browser
    // removed since its name was read gets its line, with "null" in both fields.
    std::wstring line = OnOneLine(name) + L"|";
    HKEY client = nullptr;
    if (RegOpenKeyExW(hive, (LIST_KEY_PATH + name + L"\\").c_str(), 0, READ_64_BIT_VIEW, &client) == ERROR_SUCCESS) {
        line += OnOneLine(GetDefaultValue(client));
        RegCloseKey(client);
    } else {
        line += L"null";
    }
    line += L"|";
    HKEY command = nullptr;
    std::wstring commandPath = LIST_KEY_PATH + name + L"\\shell\\open\\command\\";
    if (RegOpenKeyExW(hive, commandPath.c_str(), 0, READ_64_BIT_VIEW, &command) == ERROR_SUCCESS) {
        std::wstring value = OnOneLine(GetDefaultValue(command));
        RegCloseKey(command);
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
    HKEY list = nullptr;
    LONG error = RegOpenKeyExW(hive, LIST_KEY_PATH.c_str(), 0, READ_64_BIT_VIEW, &list);
    if (error != ERROR_SUCCESS) {
        WriteLine(L"RegOpenKeyEx failed, error code" + std::to_wstring(error) + L"\n");
        return 0;
    }
    // All names are read before the first line is written, so a slow reader of
    // the output cannot widen the time in which a change to the list shifts
    // the enumeration indexes.
    for (const std::wstring& name : GetSubKeyNames(list))
        WriteLine(GetBrowserLine(hive, name));
    RegCloseKey(list);
    return 0;
}
