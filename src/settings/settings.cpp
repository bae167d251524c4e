// The three user settings, shared by the dialog, the launch and the save.
#include <string.h>
#include <wchar.h>

#include "settings/settings.h"

char gameDir[SETTING_TEXT_SIZE];
char gameExe[SETTING_TEXT_SIZE];
int32_t startupMethod;

bool ansiLeadBytes[256];

size_t LastCharStart(const char *text, size_t length) {
  size_t last = 0;
  for (size_t i = 0; i < length; i += (ansiLeadBytes[(unsigned char)text[i]] && i + 1 < length) ? 2 : 1)
    last = i;
  return last;
}

// A two-byte character starts with a lead byte, never with 0x5C.
bool EndsWithBackslash(const char *text, size_t length) {
  return length > 0 && text[LastCharStart(text, length)] == '\\';
}

// The launch joins the directory and the executable name directly, so a non-empty directory
// must end with a backslash. When the text leaves no room for one, its last character gives
// way: the directory never grows past its buffer and never loses the backslash.
void EndWithBackslash(char *dir, size_t size) {
  if (size < 2) return;
  size_t length = strnlen(dir, size - 1);
  dir[length] = 0;
  if (length == 0 || EndsWithBackslash(dir, length)) return;
  if (length + 1 >= size) length = LastCharStart(dir, length);
  dir[length] = '\\';
  dir[length + 1] = 0;
}

// Explorer's "Copy as path" quotes the path, and a paste easily brings spaces along.
void TrimTypedPath(wchar_t *text) {
  size_t length = wcslen(text);
  size_t start = 0;
  while (start < length && text[start] == L' ') start++;
  while (length > start && text[length - 1] == L' ') length--;
  if (length - start >= 2 && text[start] == L'"' && text[length - 1] == L'"') {
    start++;
    length--;
  }
  memmove(text, text + start, (length - start) * sizeof *text);
  text[length - start] = 0;
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
