#pragma once
// The browser listing: the browsers registered under
// SOFTWARE\Clients\StartMenuInternet of a hive, one line each on standard output.
#include <windows.h>

#include <string>
#include <vector>

// Writes one line per browser registered in `hive` (under its subkey `under`,
// e.g. a user's SID and a backslash below HKEY_USERS), or one error line when
// the hive has no list of browsers. Always 0.
int ListBrowsers(HKEY hive, const std::wstring& under = L"");

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

// The subkeys of HKEY_USERS whose browsers this run lists after its own hive,
// each followed by a backslash: the hives of the signed-in users when it runs
// as a service account (core/userhives.h), none otherwise.
std::vector<std::wstring> GetSignedInUserHives();
