// Registry settings: the three user settings, and the master address a player may set.
//
// The settings key lives under HKEY_LOCAL_MACHINE, which a standard user cannot write. So the
// save falls back to the same key path under HKEY_CURRENT_USER, and keeps that per-user key
// up to date once it exists; the load reads the machine key, then the per-user key over it.
// Nothing here is ever reported: missing data means defaults, unwritable data is skipped.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "settings/settings_win.h"

#ifndef VARNET_MASTER_URL
#define VARNET_MASTER_URL "http://127.0.0.1:27900/servers.txt"
#endif

char masterUrl[MASTER_URL_SIZE] = VARNET_MASTER_URL;

// 32-bit builds of the program read and write the 32-bit view; this 64-bit build joins them.
static const REGSAM REGISTRY_VIEW = KEY_WOW64_32KEY;

static const char Q2_DIR_VALUE[] = "Q2Dir";
static const char Q2_EXE_VALUE[] = "q2Exe";
static const char STARTUP_METHOD_VALUE[] = "Alt. Startup Method";
static const char MASTER_URL_VALUE[] = "MasterURL";

// Takes the stored bytes of a string value whatever its type. A text of up to 259 characters
// is terminated after its bytes; a longer one (or one that doesn't fit the 260-byte buffer)
// is ignored, as a cut path or name would only point somewhere wrong.
static void ReadTextValue(HKEY key, const char *name, char *setting) {
  char text[SETTING_TEXT_SIZE + 1];  // one spare byte: a full buffer can still be terminated
  DWORD size = SETTING_TEXT_SIZE;
  memset(text, 0, sizeof text);
  if (RegQueryValueExA(key, name, NULL, NULL, (BYTE *)text, &size) != ERROR_SUCCESS) return;
  if (size > SETTING_TEXT_SIZE) return;
  text[size] = 0;
  if (strlen(text) >= SETTING_TEXT_SIZE) return;
  CopyText(setting, SETTING_TEXT_SIZE, text);
}

static void ReadNumberValue(HKEY key, const char *name, int32_t *setting) {
  int32_t number = *setting;  // fewer than 4 stored bytes replace only the low ones
  DWORD size = sizeof number;
  if (RegQueryValueExA(key, name, NULL, NULL, (BYTE *)&number, &size) != ERROR_SUCCESS) return;
  *setting = number;
}

// Only for whoever debugs a player's setup: a value that is not used says why, once.
static void ReportIgnoredMasterUrl(const char *reason) {
  char line[128];
  snprintf(line, sizeof line, APP_NAME ": MasterURL ignored (%s), the built-in master address stays\n",
           reason);
  OutputDebugStringA(line);
}

// The optional master address; SaveState never writes it, so a value set by hand stays as it is.
static void ReadMasterUrlValue(HKEY key) {
  char text[MASTER_URL_SIZE];
  DWORD type = REG_NONE;
  DWORD size = sizeof text;
  LONG result = RegQueryValueExA(key, MASTER_URL_VALUE, NULL, &type, (BYTE *)text, &size);
  if (result == ERROR_FILE_NOT_FOUND) return;  // not set: the usual case
  if (result == ERROR_MORE_DATA) return ReportIgnoredMasterUrl("longer than 1023 characters");
  if (result != ERROR_SUCCESS) return ReportIgnoredMasterUrl("unreadable");
  if (type != REG_SZ) return ReportIgnoredMasterUrl("not a REG_SZ value");
  DWORD length = size <= sizeof text ? size : (DWORD)sizeof text;
  while (length > 0 && text[length - 1] == 0) length--;  // the terminator(s) it was stored with
  if (!IsUsableMasterUrl(text, (int32_t)length))
    return ReportIgnoredMasterUrl("not an http:// or https:// address");
  memcpy(masterUrl, text, length);
  masterUrl[length] = 0;
}

static void ReadSettingsKey(HKEY root) {
  HKEY key;
  if (RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_READ | REGISTRY_VIEW, &key) != ERROR_SUCCESS) {
    return;  // normally: never saved there
  }
  ReadNumberValue(key, STARTUP_METHOD_VALUE, &startupMethod);
  ReadTextValue(key, Q2_DIR_VALUE, gameDir);
  ReadTextValue(key, Q2_EXE_VALUE, gameExe);
  ReadMasterUrlValue(key);
  RegCloseKey(key);
}

void LoadSettingsFrom(HKEY machineRoot, HKEY userRoot) {
  ReadSettingsKey(machineRoot);
  ReadSettingsKey(userRoot);
}

void LoadSettings(void) { LoadSettingsFrom(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER); }

static bool WriteText(HKEY key, const char *name, const char *setting) {
  char text[SETTING_TEXT_SIZE];
  CopyText(text, sizeof text, setting);  // the terminator written is always a real one
  DWORD size = (DWORD)strlen(text) + 1;
  return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, size) == ERROR_SUCCESS;
}

// True only when every value was written, so a half-written key still gets the fallback.
static bool WriteSettingValues(HKEY key) {
  DWORD method = (DWORD)startupMethod;
  bool written = WriteText(key, Q2_DIR_VALUE, gameDir);
  written = WriteText(key, Q2_EXE_VALUE, gameExe) && written;
  written = RegSetValueExA(key, STARTUP_METHOD_VALUE, 0, REG_DWORD, (const BYTE *)&method, sizeof method) ==
                ERROR_SUCCESS &&
            written;
  return written;
}

// Makes sure the key exists, then opens it for writing; both handles are closed again.
static bool CreateAndWriteKey(HKEY root) {
  HKEY created = NULL;
  HKEY key = NULL;
  bool written = false;
  RegCreateKeyExA(root, SETTINGS_KEY, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE | REGISTRY_VIEW, NULL,
                  &created, NULL);
  if (RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_WRITE | REGISTRY_VIEW, &key) == ERROR_SUCCESS) {
    written = WriteSettingValues(key);
    RegCloseKey(key);
  }
  if (created != NULL) RegCloseKey(created);
  return written;
}

// Only an existing per-user key is updated: it is created only when the machine key fails.
static void UpdateExistingKey(HKEY root) {
  HKEY key;
  if (RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_WRITE | REGISTRY_VIEW, &key) != ERROR_SUCCESS) {
    return;
  }
  WriteSettingValues(key);
  RegCloseKey(key);
}

void SaveSettingsTo(HKEY machineRoot, HKEY userRoot) {
  if (CreateAndWriteKey(machineRoot)) {
    UpdateExistingKey(userRoot);  // else its older values would win at the next load
    return;
  }
  CreateAndWriteKey(userRoot);
}

void SaveSettings(void) { SaveSettingsTo(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER); }

void ReadAnsiLeadBytes(void) {
  for (int byte = 0; byte < 256; byte++) ansiLeadBytes[byte] = IsDBCSLeadByteEx(CP_ACP, (BYTE)byte) != 0;
}

// Without WC_NO_BEST_FIT_CHARS a character the code page lacks may become a look-alike that
// names another file ("Quake\uFF12" as "Quake2"); the lossy flag says one had no ANSI form.
// The UTF-8 code page holds every character and takes neither the flag nor the question.
static int ToAnsi(const wchar_t *text, int count, char *ansi, int size, bool *lossy) {
  BOOL defaulted = FALSE;
  bool utf8 = GetACP() == CP_UTF8;
  int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, count, ansi, size, NULL,
                                   utf8 ? NULL : &defaulted);
  *lossy = defaulted != FALSE;
  return length;
}

bool ToAnsiExactly(const wchar_t *text, char *ansi, size_t size) {
  bool lossy = false;
  int length = ToAnsi(text, -1, ansi, (int)size, &lossy);
  if (length > 0 && !lossy) return true;
  if (size > 0) ansi[0] = 0;
  return false;
}

bool CutToAnsiExactly(const wchar_t *text, char *ansi, size_t size) {
  for (int count = (int)wcslen(text); count > 0 && size > 1; count--) {
    bool lossy = false;
    int length = ToAnsi(text, count, ansi, (int)size - 1, &lossy);
    if (lossy) break;
    if (length > 0) {
      ansi[length] = 0;
      return true;
    }
  }
  if (size > 0) ansi[0] = 0;
  return text[0] == 0;
}

// Other programs and earlier versions read Q2Dir as ANSI text, so a folder named outside the
// code page is stored by the short name every folder also answers to.
bool AnsiPathOf(const wchar_t *path, char *ansi, size_t size) {
  if (ToAnsiExactly(path, ansi, size)) return true;
  wchar_t shortPath[MAX_PATH];
  DWORD length = GetShortPathNameW(path, shortPath, MAX_PATH);
  return length > 0 && length < MAX_PATH && ToAnsiExactly(shortPath, ansi, size);
}

#define UNUSABLE_FOLDER_TEXT                                                                                 \
  L"This folder can't be used:\n    %ls\n\nIts name has characters that the game's ANSI command line "       \
  L"can't carry, and the drive keeps no short (8.3) name for it.\n\nRename the folder using only letters "   \
  L"of your system's language or plain English letters, or move Quake II to a folder with such a name."
#define UNUSABLE_FILE_TEXT                                                                                   \
  L"This name can't be used:\n    %ls\n\nIt has characters that the game's ANSI command line can't "         \
  L"carry.\n\nRename the file using only letters of your system's language or plain English letters."

void ExplainUnusableName(HWND owner, const wchar_t *name, bool isFolder, const wchar_t *caption) {
  wchar_t text[SETTING_TEXT_SIZE + 512];
  swprintf(text, sizeof text / sizeof text[0], isFolder ? UNUSABLE_FOLDER_TEXT : UNUSABLE_FILE_TEXT, name);
  MessageBoxW(owner, text, caption, MB_ICONWARNING | MB_OK);
}
