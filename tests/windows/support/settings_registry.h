// Registry helpers for the settings tests: raw values, clean keys, stand-in roots, locked keys.
#pragma once
#include <windows.h>

#include <string>

// Every helper works on the settings key path under root, in the program's (32-bit) view.
void DeleteSettingsKey(HKEY root);
bool SettingsKeyExists(HKEY root);
bool PutSettingsValue(HKEY root, const char *name, DWORD type, const void *data, DWORD size);
bool PutSettingsText(HKEY root, const char *name, const char *text);  // with its terminator
bool PutSettingsNumber(HKEY root, const char *name, DWORD number);
// The stored type and bytes; false when the key or value is missing.
bool GetSettingsValue(HKEY root, const char *name, DWORD *type, std::string *bytes);

// A private stand-in for a root key, under HKCU\Software\VarnetSettingsTest\<name>.
HKEY OpenTestRoot(const char *name);
// Closes nothing; removes every stand-in root and what is below it.
void DeleteTestRoots(void);

// Gives the (existing) settings key a DACL that lets everyone read but not write, the way
// HKEY_LOCAL_MACHINE looks to a standard user. Delete stays allowed so tests can clean up.
bool LockSettingsKey(HKEY root);
