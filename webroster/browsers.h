#pragma once
// The browser listing: the browsers registered under
// SOFTWARE\Clients\StartMenuInternet of a hive, one line each on standard output.
#include "userhives.h"

#include <windows.h>

#include <string>
#include <vector>

// Writes one line per browser registered in `hive` (under its subkey `under`,
// e.g. a user's SID and a backslash below HKEY_USERS), or one error line when
// the hive has no list of browsers, after the line `heading` where it is not
// empty. Always 0.
int ListBrowsers(HKEY hive, const std::wstring& under = L"", const std::wstring& heading = L"");

// The names of the subkeys of `key`, in the registry's enumeration order, as
// one snapshot by the core's rule (snapshot.h): read until two readings agree.
std::vector<std::wstring> GetSubKeyNames(HKEY key);

// The text of the default (unnamed) value of `key`; empty when it has none.
std::wstring GetDefaultValue(HKEY key);

// The line, ending in "\n", for the browser registered as `name` in `hive`.
// Its keys are opened here, so a name whose keys are gone still gets a line.
std::wstring GetBrowserLine(HKEY hive, const std::wstring& name, const std::wstring& under = L"");

// The SID of the account this program runs as, e.g. S-1-5-18; empty when the
// token cannot be read.
std::wstring GetOwnSid();

// The hives this run lists, in order, with the lines that name them
// (core/userhives.h): run as LocalSystem also the signed-in users' hives.
std::vector<HiveListing> GetHiveListings();
