// Registry helpers for the settings tests.
#include "settings_registry.h"

#include <stdio.h>
#include <string.h>

#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"

static const REGSAM VIEW = KEY_WOW64_32KEY;
static const char TEST_ROOTS[] = "Software\\VarnetSettingsTest";

void DeleteSettingsKey(HKEY root) { RegDeleteKeyExA(root, SETTINGS_KEY, VIEW, 0); }

bool SettingsKeyExists(HKEY root) {
  HKEY key;
  if (RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_READ | VIEW, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool PutSettingsValue(HKEY root, const char *name, DWORD type, const void *data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(root, SETTINGS_KEY, 0, NULL, 0, KEY_ALL_ACCESS | VIEW, NULL, &key, NULL) !=
      ERROR_SUCCESS) {
    return false;
  }
  LONG result = RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool PutSettingsText(HKEY root, const char *name, const char *text) {
  return PutSettingsValue(root, name, REG_SZ, text, (DWORD)strlen(text) + 1);
}

bool PutSettingsNumber(HKEY root, const char *name, DWORD number) {
  return PutSettingsValue(root, name, REG_DWORD, &number, sizeof number);
}

bool GetSettingsValue(HKEY root, const char *name, DWORD *type, std::string *bytes) {
  HKEY key;
  if (RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_READ | VIEW, &key) != ERROR_SUCCESS) return false;
  char data[4096];
  DWORD size = sizeof data;
  LONG result = RegQueryValueExA(key, name, NULL, type, (BYTE *)data, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return false;
  bytes->assign(data, size);
  return true;
}

HKEY OpenTestRoot(const char *name) {
  char path[256];
  snprintf(path, sizeof path, "%s\\%s", TEST_ROOTS, name);
  HKEY key = NULL;
  RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
  return key;
}

void DeleteTestRoots(void) { RegDeleteTreeA(HKEY_CURRENT_USER, TEST_ROOTS); }

bool LockSettingsKey(HKEY root) {
  HKEY key;
  if (RegOpenKeyExA(root, SETTINGS_KEY, 0, WRITE_DAC | VIEW, &key) != ERROR_SUCCESS) return false;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = NULL;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  char aclBuffer[256];
  PACL acl = (PACL)aclBuffer;
  InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | DELETE | WRITE_DAC, everyone);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  LONG result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
  FreeSid(everyone);
  return result == ERROR_SUCCESS;
}
