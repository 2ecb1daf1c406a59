// Webroster.exe run as a child against browser keys that each test writes, and
// the listing's steps called one by one where a run cannot be made to meet a
// case. The x64 tree runs these tests against a 64-bit Webroster.exe, the x86
// tree against the 32-bit one that ships: the same byte-exact expectations
// passing in both trees show that both builds print the same bytes.
//
// Not shown here: output to a console (the runtime's wide console output; the
// tests send standard output to a file), and that each line is flushed as soon
// as it is complete (a file read after the run cannot tell when a line came).
#include "browsers.h"
#include "testkit.h"

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <regex>
#include <thread>

namespace {

const std::wstring LIST_PATH = L"SOFTWARE\\Clients\\StartMenuInternet";
const std::wstring NO_LIST_KEY = L"RegOpenKeyEx failed, error code2\r\n";
// Every browser key a test makes has a name that begins so; only such keys are removed.
const std::wstring OURS = L"TaskToolsTest-";

// A value as stored: its type and its data, byte for byte.
struct Value {
    bool set = false;
    DWORD type = REG_NONE;
    std::string bytes;
};

Value Data(DWORD type, const std::string& bytes)
{
    return Value{true, type, bytes};
}

Value Sz(const std::wstring& text)
{
    return Data(REG_SZ, testkit::Utf16Bytes(text) + std::string(2, '\0'));
}

// Creates hive\path in `view` and sets its value `name` (the default value
// unless named) when `value` is set.
void PutKey(HKEY hive, const std::wstring& path, const Value& value, const wchar_t* name = nullptr,
            REGSAM view = KEY_WOW64_64KEY)
{
    ASSERT_EQ(childkit::PutKey(hive, path, view, name, value.type, value.set ? &value.bytes : nullptr), ERROR_SUCCESS)
        << testkit::NarrowAnsi(path);
}

void AddBrowser(HKEY hive, const std::wstring& name, const std::wstring& display, const std::wstring& command,
                const std::wstring& listPath = LIST_PATH)
{
    PutKey(hive, listPath + L"\\" + name, Sz(display));
    PutKey(hive, listPath + L"\\" + name + L"\\shell\\open\\command", Sz(command));
}

// The tests' own names; all names in the private prefix, which has no others.
std::vector<std::wstring> Ours(std::vector<std::wstring> names)
{
    if (!testkit::InPrivateTestPrefix())
        names.erase(std::remove_if(names.begin(), names.end(), [](auto& n) { return n.find(OURS) != 0; }), names.end());
    return names;
}

// Every test starts and ends without keys of its own (in the private prefix without
// list keys), in both hives and both views. HKCU\SOFTWARE is one key in both views; the 32-bit
// view of HKLM\SOFTWARE\Clients is SOFTWARE\Wow6432Node\Clients on Wine, and the
// last entry reaches that key also on Windows, where the views share Clients.
// A browser key left unreadable would stop RegDeleteTreeW: it is opened up first.
void RemoveBrowserKeys()
{
    const struct { HKEY hive; const wchar_t* clients; REGSAM view; } places[] = {
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients", KEY_WOW64_64KEY},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients", KEY_WOW64_32KEY},
        {HKEY_CURRENT_USER, L"SOFTWARE\\Clients", KEY_WOW64_64KEY},
        {HKEY_CURRENT_USER, L"SOFTWARE\\Clients", KEY_WOW64_32KEY},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Clients", KEY_WOW64_64KEY},
    };
    for (const auto& place : places) {
        std::wstring list = std::wstring(place.clients) + L"\\StartMenuInternet";
        for (const std::wstring& name : childkit::RemoveKeysNamed(place.hive, list, place.view, OURS))
            ADD_FAILURE() << "cannot remove " << testkit::NarrowAnsi(name);
        if (testkit::InPrivateTestPrefix())
            childkit::RemoveKeyIfEmpty(place.hive, list, place.view, false);
    }
}

class WebrosterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveBrowserKeys();
        std::vector<std::wstring> clients = childkit::SubKeyNames(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients");
        if (!testkit::InPrivateTestPrefix() && std::count(clients.begin(), clients.end(), L"StartMenuInternet") == 0)
            GTEST_SKIP() << "this machine has no browser list, and a test would have to make one";
    }
    void TearDown() override { RemoveBrowserKeys(); }
};

// Whatever the registry holds, the run ends with 0 and says nothing on standard error.
std::string RunWebroster(const std::wstring& arguments = L"")
{
    testkit::RunResult run = testkit::RunTool(testkit::Sibling(L"Webroster.exe"), arguments, testkit::ProgramDir());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_BYTES("", run.err);
    return run.out;
}

// The expected lines of the test's browsers in the order the registry enumerates them.
std::wstring MachineListing(const std::map<std::wstring, std::wstring>& lines)
{
    std::vector<std::wstring> names = Ours(childkit::SubKeyNames(HKEY_LOCAL_MACHINE, LIST_PATH));
    EXPECT_EQ(names.size(), lines.size());
    std::wstring listing;
    for (const std::wstring& name : names)
        listing += lines.at(name);
    return listing;
}

// In the private prefix the whole output; elsewhere real browsers may be listed around the
// test's lines, which stand as one run (their names begin alike; the registry sorts names).
void ExpectMachineLines(const std::wstring& lines, const std::string& out)
{
    if (testkit::InPrivateTestPrefix())
        EXPECT_BYTES(testkit::Utf16Bytes(lines + NO_LIST_KEY), out);
    else
        EXPECT_NE(out.find(testkit::Utf16Bytes(lines)), std::string::npos) << testkit::Escape(out);
}

TEST_F(WebrosterTest, WritesEachBrowserLineByteForByte)
{
    struct BrowserCase {
        std::wstring name;
        Value display;      // the default value of the browser's key
        bool commandKey;    // whether shell\open\command exists
        Value command;      // its default value
        std::wstring line;  // as written, every line end spelt out
    };
    const Value unset;
    const std::wstring name254(254 - OURS.size(), L'n'), name255(255 - OURS.size(), L'm');
    const BrowserCase cases[] = {
        {L"A", Sz(L"B"), true, Sz(L"C:\\x.exe"), L"A|B|\"C:\\x.exe\"\r\n"},
        {L"Quoted", Sz(L"a|b \"c\""), true, Sz(L"\"C:\\q q.exe\" -n"), L"Quoted|a|b \"c\"|\"C:\\q q.exe\" -n\r\n"},
        {L"OpenQuote", Sz(L"O"), true, Sz(L"\"C:\\o.exe"), L"OpenQuote|O|\"C:\\o.exe\r\n"},
        {L"Space", Sz(L"S"), true, Sz(L" C:\\s.exe"), L"Space|S|\" C:\\s.exe\"\r\n"},
        {L"EmptyCommand", Sz(L"E"), true, Sz(L""), L"EmptyCommand|E|\"\"\r\n"},
        {L"UnsetCommand", Sz(L"U"), true, unset, L"UnsetCommand|U|\"\"\r\n"},
        {L"NoCommandKey", Sz(L"N"), false, unset, L"NoCommandKey|N|\"null\"\r\n"},
        {L"NoDisplay", unset, true, Sz(L"C:\\d.exe"), L"NoDisplay||\"C:\\d.exe\"\r\n"},
        {L"Caf\u00e9", Sz(L"\u20ac \U0001F310"), true, Sz(L"C:\\\u00e9.exe"),
         L"Caf\u00e9|\u20ac \U0001F310|\"C:\\\u00e9.exe\"\r\n"},
        // U+FFFF is the runtime's WEOF: its wide text stream would end the line there.
        {L"Max\uFFFF", Sz(L"\xD800\uFFFF"), true, Sz(L"C:\\\uFFFF"), L"Max\uFFFF|\xD800\uFFFF|\"C:\\\uFFFF\"\r\n"},
        // Every CR and LF inside a name or a value is a space: one browser, one line.
        {L"Lines", Sz(L"one\ntwo\rthree\r\nfour"), false, unset, L"Lines|one two three  four|\"null\"\r\n"},
        {L"Line\rKey\n", Sz(L"K"), true, Sz(L"\"C:\\k.exe\"\r\n-new\n"), L"Line Key |K|\"C:\\k.exe\"  -new \r\n"},
        // Data of any type is read as UTF-16 text up to its first NUL or its end.
        {L"Expand", Sz(L"X"), true, Data(REG_EXPAND_SZ, testkit::Utf16Bytes(L"%ProgramFiles%\\x.exe") + '\0' + '\0'),
         L"Expand|X|\"%ProgramFiles%\\x.exe\"\r\n"},
        {L"Multi", Data(REG_MULTI_SZ, testkit::Utf16Bytes(L"first") + std::string(2, '\0') +
                                          testkit::Utf16Bytes(L"second") + std::string(4, '\0')),
         false, unset, L"Multi|first|\"null\"\r\n"},
        {L"Binary", Data(REG_BINARY, testkit::Utf16Bytes(L"Bin")), false, unset, L"Binary|Bin|\"null\"\r\n"},
        {L"NoNul", Data(REG_SZ, testkit::Utf16Bytes(L"Plain")), true, Data(REG_SZ, testkit::Utf16Bytes(L"C:\\p.exe")),
         L"NoNul|Plain|\"C:\\p.exe\"\r\n"},
        // The last byte of an odd-sized datum is half a character: dropped.
        {L"Odd", Data(REG_SZ, testkit::Utf16Bytes(L"Odd") + 'A'), false, unset, L"Odd|Odd|\"null\"\r\n"},
        {name254, Sz(L"254"), false, unset, name254 + L"|254|\"null\"\r\n"},
        {name255, Sz(L"255"), false, unset, name255 + L"|255|\"null\"\r\n"},
    };
    std::map<std::wstring, std::wstring> lines;
    for (const BrowserCase& c : cases) {
        PutKey(HKEY_LOCAL_MACHINE, LIST_PATH + L"\\" + OURS + c.name, c.display);
        if (c.commandKey)
            PutKey(HKEY_LOCAL_MACHINE, LIST_PATH + L"\\" + OURS + c.name + L"\\shell\\open\\command", c.command);
        lines[OURS + c.name] = OURS + c.line;
    }
    // A named value is not the default value.
    PutKey(HKEY_LOCAL_MACHINE, LIST_PATH + L"\\" + OURS + L"NoDisplay", Sz(L"named"), L"LocalizedString");
    // A browser key that does not open: its command is still listed.
    AddBrowser(HKEY_LOCAL_MACHINE, OURS + L"Locked", L"L", L"C:\\l.exe");
    EXPECT_EQ(childkit::SetKeyDacl(HKEY_LOCAL_MACHINE, LIST_PATH + L"\\" + OURS + L"Locked", KEY_WOW64_64KEY,
                                   L"D:P(A;;0x70000;;;WD)"),
              ERROR_SUCCESS);
    lines[OURS + L"Locked"] = OURS + L"Locked|null|\"C:\\l.exe\"\r\n";
    // A value name of the longest length, 16383, does not hide the default
    // value. Windows enumerates values in creation order, so there the long
    // name is met first; Wine sorts them by name and meets the default first.
    const std::wstring longValueName = OURS + L"LongValueName";
    PutKey(HKEY_LOCAL_MACHINE, LIST_PATH + L"\\" + longValueName, Sz(L"named"), std::wstring(16383, L'v').c_str());
    PutKey(HKEY_LOCAL_MACHINE, LIST_PATH + L"\\" + longValueName, Sz(L"Default"));
    lines[longValueName] = longValueName + L"|Default|\"null\"\r\n";

    std::string out = RunWebroster();
    ExpectMachineLines(MachineListing(lines), out);
    EXPECT_BYTES(out, RunWebroster(L"/? /all x"));
}

TEST_F(WebrosterTest, ListsTheMachineHiveThenTheUserHive)
{
    SKIP_UNLESS_PRIVATE_TEST_PREFIX();
    const std::wstring web = OURS + L"Web|Web Browser|\"C:\\web.exe\" -n\r\n";
    const struct {
        const char* what;
        bool emptyMachineList, machineBrowser, userBrowser;
        std::wstring listing;
    } scenarios[] = {
        {"no list key in either hive", false, false, false, NO_LIST_KEY + NO_LIST_KEY},
        {"an empty list for the machine, none for the user", true, false, false, NO_LIST_KEY},
        {"a browser for the user only", false, false, true, NO_LIST_KEY + web},
        {"the same browser in both hives", false, true, true, web + web},
    };
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.what);
        RemoveBrowserKeys();
        if (s.emptyMachineList)
            PutKey(HKEY_LOCAL_MACHINE, LIST_PATH, Value());
        if (s.machineBrowser)
            AddBrowser(HKEY_LOCAL_MACHINE, OURS + L"Web", L"Web Browser", L"\"C:\\web.exe\" -n");
        if (s.userBrowser)
            AddBrowser(HKEY_CURRENT_USER, OURS + L"Web", L"Web Browser", L"\"C:\\web.exe\" -n");
        EXPECT_BYTES(testkit::Utf16Bytes(s.listing), RunWebroster());
    }
}

// Wine redirects all of HKLM\SOFTWARE for 32-bit programs, SOFTWARE\Clients
// included: a key created there through KEY_WOW64_32KEY lands under
// SOFTWARE\Wow6432Node\Clients, and a 32-bit Webroster that forgot
// KEY_WOW64_64KEY would list that key and miss the 64-bit one. Windows 7 and
// later share SOFTWARE\Clients between the views instead, so no browser key
// lies in the 32-bit view alone there, and the test has nothing to show. It may
// have to make the list key of the 32-bit view: in the private prefix only.
TEST_F(WebrosterTest, ReadsOnlyThe64BitView)
{
    SKIP_UNLESS_PRIVATE_TEST_PREFIX();
    AddBrowser(HKEY_LOCAL_MACHINE, OURS + L"In64", L"Sixty-four", L"C:\\64.exe");
    AddBrowser(HKEY_LOCAL_MACHINE, OURS + L"Only32", L"Thirty-two", L"C:\\32.exe",
               L"SOFTWARE\\Wow6432Node\\Clients\\StartMenuInternet");
    if (childkit::SubKeyNames(HKEY_LOCAL_MACHINE, LIST_PATH, KEY_WOW64_32KEY) !=
        std::vector<std::wstring>{OURS + L"Only32"})
        GTEST_SKIP() << "SOFTWARE\\Clients is shared between the registry views here";
    EXPECT_BYTES(testkit::Utf16Bytes(OURS + L"In64|Sixty-four|\"C:\\64.exe\"\r\n" + NO_LIST_KEY), RunWebroster());
}

// Created out of name order: Wine, like Windows, enumerates subkeys sorted by
// name, not in creation order. The expected order is the one the registry
// gives the test.
TEST_F(WebrosterTest, ListsAThousandBrowsersInEnumerationOrder)
{
    std::map<std::wstring, std::wstring> lines;
    for (int i = 0; i < 1000; ++i) {
        std::wstring number = std::to_wstring(i * 389 % 1000);
        std::wstring name = OURS + L"Browser" + number;
        AddBrowser(HKEY_LOCAL_MACHINE, name, L"Display " + number, L"C:\\b\\" + number + L".exe");
        lines[name] = name + L"|Display " + number + L"|\"C:\\b\\" + number + L".exe\"\r\n";
    }
    ExpectMachineLines(MachineListing(lines), RunWebroster());
}

// A browser removed between the reading of the names and the opening of its
// keys. Webroster.exe reads every name before it writes its first line, so no
// test can remove a key inside that window from outside; here the names are
// read, a browser is removed, and then its line is made. Not shown: that a run
// of the program meets such a removal, and a subkey removed between the count
// and the enumeration of the names (its index is then skipped).
TEST_F(WebrosterTest, BrowserRemovedAfterItsNameWasReadStillGetsALine)
{
    const std::wstring gone = OURS + L"Gone", kept = OURS + L"Kept";
    AddBrowser(HKEY_LOCAL_MACHINE, gone, L"Gone Browser", L"C:\\gone.exe");
    AddBrowser(HKEY_LOCAL_MACHINE, kept, L"Kept Browser", L"C:\\kept.exe");
    HKEY list = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, LIST_PATH.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &list),
              ERROR_SUCCESS);
    std::vector<std::wstring> names = Ours(GetSubKeyNames(list));
    RegCloseKey(list);
    ASSERT_EQ(names, (std::vector<std::wstring>{gone, kept}));

    HKEY clients = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, LIST_PATH.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &clients),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(clients, gone.c_str()), ERROR_SUCCESS);
    RegCloseKey(clients);
    EXPECT_EQ(GetBrowserLine(HKEY_LOCAL_MACHINE, gone), gone + L"|null|\"null\"\n");
    EXPECT_EQ(GetBrowserLine(HKEY_LOCAL_MACHINE, kept), kept + L"|Kept Browser|\"C:\\kept.exe\"\n");
}

// A run as LocalSystem lists each signed-in user's hive through HKEY_USERS\<SID>, each hive after a line that
// names it (core/userhives.h has the table of accounts). Wine cannot run a program as SYSTEM or a service account
// (every program runs as its one user), so no run of Webroster.exe here lists another hive or names one: shown is
// that an interactive run plans its two hives without a name line (the other tests show its output byte for byte),
// and that the listing through HKEY_USERS\<SID> of Wine's own user hive gives the lines of HKEY_CURRENT_USER.
TEST_F(WebrosterTest, ListsAUserHiveThroughItsSid)
{
    const std::wstring sid = GetOwnSid(), name = OURS + L"UserHive";
    ASSERT_EQ(sid.find(L"S-1-5-21-"), 0u) << testkit::NarrowAnsi(sid);
    const std::vector<HiveListing> interactive = {{HIVE_MACHINE, u"", u""}, {HIVE_CURRENT_USER, u"", u""}};
    EXPECT_EQ(GetHiveListings(), interactive);
    AddBrowser(HKEY_CURRENT_USER, name, L"User Browser", L"C:\\u.exe");
    HKEY list = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, (sid + L"\\" + LIST_PATH).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &list),
              ERROR_SUCCESS);
    EXPECT_EQ(Ours(GetSubKeyNames(list)), std::vector<std::wstring>{name});
    RegCloseKey(list);
    EXPECT_EQ(GetBrowserLine(HKEY_USERS, name, sid + L"\\"), name + L"|User Browser|\"C:\\u.exe\"\n");
}

// Browsers that come and go, without end, shift the indexes under Webroster's reading of the names:
// before all the kept ones ("Churn137") and among them ("Kept137x" lies between "Kept137" and
// "Kept138"). Each untouched browser still comes out once, in order: the names are read again until
// two readings agree, or taken from every reading. The test cannot see whether a change met a
// reading; it asserts what came out, the churned lines left aside.
TEST_F(WebrosterTest, ListsEachUntouchedBrowserOnceWhileOthersComeAndGo)
{
    std::map<std::wstring, std::wstring> lines;
    for (int i = 100; i < 700; ++i) {
        std::wstring name = OURS + L"Kept" + std::to_wstring(i);
        PutKey(HKEY_LOCAL_MACHINE, LIST_PATH + L"\\" + name, Value());
        lines[name] = name + L"||\"null\"\r\n";
    }
    const std::wstring expected = MachineListing(lines);
    const std::wregex churned(OURS + L"(Kept\\d+x|Churn\\d+)\\|[^\\n]*\\n");
    std::atomic<bool> done(false);
    std::thread churn([&] {
        for (int i = 0; !done; ++i, Sleep(1)) {
            std::wstring number = std::to_wstring(100 + i / 2 * 37 % 600);
            std::wstring path = LIST_PATH + L"\\" + OURS + (i % 4 < 2 ? L"Churn" + number : L"Kept" + number + L"x");
            if (i % 2 == 0)
                PutKey(HKEY_LOCAL_MACHINE, path, Value());
            else
                RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
        }
    });
    for (int run = 0; run < 16; ++run) {
        std::string out = RunWebroster();
        std::wstring text(out.size() / 2, L'\0');
        std::memcpy(&text[0], out.data(), text.size() * sizeof(wchar_t));
        ExpectMachineLines(expected, testkit::Utf16Bytes(std::regex_replace(text, churned, L"")));
    }
    done = true;
    churn.join();
}

}  // namespace
