#pragma once
// The browser listing: the browsers registered under
// SOFTWARE\Clients\StartMenuInternet of a hive, one line each on standard output.
#include <windows.h>

#include <string>
#include <vector>

// Writes one line per browser registered in `hive`, or one error line when the
// hive has no list of browsers. Always 0.
int ListBrowsers(HKEY hive);

// The names of the subkeys of `key`, in the registry's enumeration order, as
// one snapshot by the core's rule (snapshot.h): read until two readings agree.
std::vector<std::wstring> GetSubKeyNames(HKEY key);

// The text of the default (unnamed) value of `key`; empty when it has none.
std::wstring GetDefaultValue(HKEY key);

// The line, ending in "\n", for the browser registered as `name` in `hive`.
// Its keys are opened here, so a name whose keys are gone still gets a line.
std::wstring GetBrowserLine(HKEY hive, const std::wstring& name);
