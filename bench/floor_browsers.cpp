// Webroster's floor, 32-bit like Webroster: lists the browsers under
// SOFTWARE\Clients\StartMenuInternet of HKLM (64-bit view) and HKCU with the
// least work that can do it: enumerate the subkeys, read the default value of
// each and of its shell\open\command, write one UTF-16 line each, CR LF, one
// WriteFile per line (Webroster hands out every line as soon as it is complete).
// The lines are Webroster's: key|display name|"command".
//
//     floor_browsers.exe   (output on standard output)
#include <windows.h>

#include <string>

namespace {

constexpr REGSAM VIEW = KEY_WOW64_64KEY;
HANDLE s_out;

void Write(const std::wstring& line)
{
    DWORD written = 0;
    WriteFile(s_out, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
}

// The default value of `parent`\`subkey` as text; false when the key does not open.
bool DefaultValue(HKEY parent, const wchar_t* subkey, std::wstring& text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, subkey, 0, KEY_QUERY_VALUE | VIEW, &key) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[1024];
    DWORD bytes = sizeof buffer;
    LONG error = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
    text.clear();
    if (error == ERROR_SUCCESS) {
        text.assign(buffer, bytes / sizeof(wchar_t));
    } else if (error == ERROR_MORE_DATA) {
        text.resize(bytes / sizeof(wchar_t) + 1);
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &bytes) ==
            ERROR_SUCCESS)
            text.resize(bytes / sizeof(wchar_t));
        else
            text.clear();
    }
    std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    RegCloseKey(key);
    return true;
}

void List(HKEY hive)
{
    HKEY list = nullptr;
    LONG error = RegOpenKeyExW(hive, L"SOFTWARE\\Clients\\StartMenuInternet", 0, KEY_READ | VIEW, &list);
    if (error != ERROR_SUCCESS) {
        Write(L"RegOpenKeyEx failed, error code" + std::to_wstring(error) + L"\r\n");
        return;
    }
    std::wstring line, value, command;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        error = RegEnumKeyExW(list, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        if (error != ERROR_SUCCESS)
            continue;
        line.assign(name, length);
        line += L'|';
        line += DefaultValue(list, name, value) ? value : L"null";
        line += L'|';
        std::wstring commandKey = std::wstring(name, length) + L"\\shell\\open\\command";
        if (!DefaultValue(list, commandKey.c_str(), command))
            line += L"\"null\"";
        else if (!command.empty() && command[0] == L'"')
            line += command;
        else
            line += L"\"" + command + L"\"";
        line += L"\r\n";
        Write(line);
    }
    RegCloseKey(list);
}

}  // namespace

int main()
{
    s_out = GetStdHandle(STD_OUTPUT_HANDLE);
    List(HKEY_LOCAL_MACHINE);
    List(HKEY_CURRENT_USER);
    return 0;
}
