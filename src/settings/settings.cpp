// The three user settings, shared by the dialog, the launch and the save.
#include <string.h>

#include "settings/settings.h"

char gameDir[SETTING_TEXT_SIZE];
char gameExe[SETTING_TEXT_SIZE];
int32_t startupMethod;

// The launch joins the directory and the executable name directly, so a non-empty directory
// must end with a backslash. When the text leaves no room for one, its last character gives
// way: the directory never grows past its buffer and never loses the backslash.
void EndWithBackslash(char *dir, size_t size) {
  if (size < 2) return;
  size_t length = strnlen(dir, size - 1);
  dir[length] = 0;
  if (length == 0 || dir[length - 1] == '\\') return;
  if (length + 1 >= size) length = size - 2;
  dir[length] = '\\';
  dir[length + 1] = 0;
}

// Case-insensitive ASCII prefix test within length.
static bool HasSchemePrefix(const char *text, int32_t length, const char *scheme) {
  int32_t i = 0;
  for (; scheme[i] != 0; i++) {
    if (i >= length) return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c != scheme[i]) return false;
  }
  return true;
}

bool IsUsableMasterUrl(const char *text, int32_t length) {
  if (text == NULL || length <= 0 || length > MASTER_URL_MAX_LENGTH) return false;
  if (memchr(text, 0, (size_t)length) != NULL) return false;
  return HasSchemePrefix(text, length, "http://") || HasSchemePrefix(text, length, "https://");
}
