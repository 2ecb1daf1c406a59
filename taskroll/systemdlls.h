#pragma once
// DLLs come from System32 only. TaskRoll may run from a folder that users
// can write (agents copy tools into C:\Windows\Temp), where a planted DLL of
// a system name would otherwise be found first and run with TaskRoll's rights.
#include <windows.h>

// Makes System32 the only folder that DLLs are looked for in, for every later
// load of this process (delayed imports included). First thing in main.
void LoadDllsFromSystemOnly();

// The system DLL `name` (such as L"version.dll"), loaded by its full path in
// the system folder; null when it cannot be. Called outside the native file
// system view, the 32-bit build gets its 32-bit namesake, as it must.
HMODULE LoadSystemDll(const wchar_t* name);
