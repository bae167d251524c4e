// The cache file's two places, resolved and opened by wide-character name.
//
// A start-up folder's name may lie outside the ANSI code page (a player's user name in
// Cyrillic, say), where the ANSI functions would turn its letters into '?', so its path is
// never held as ANSI text. A standard user who starts the browser in a folder under
// Program Files can't write there (the manifest turns file virtualization off), so the save
// falls back to a per-user file; once that file exists it is the one loaded and it is kept up
// to date, as the per-user settings key is.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include "settings/settings_win.h"

wchar_t cachePath[CACHE_PATH_SIZE];
wchar_t userCachePath[CACHE_PATH_SIZE];

#define USER_CACHE_TAIL L"\\" APP_NAME L"\\" CACHE_FILE_NAME

// Copies within size; false (and an empty result) when source doesn't fit.
static bool CopyWide(wchar_t *dest, size_t size, const wchar_t *source) {
  size_t length = 0;
  while (source[length] != 0 && length + 1 < size) length++;
  if (source[length] != 0) {
    if (size > 0) dest[0] = 0;
    return false;
  }
  for (size_t i = 0; i <= length; i++) dest[i] = source[i];
  return true;
}

// %LOCALAPPDATA%\Varnet Server Browser\kestrel.cache, or empty when there is no such folder
// or the path would not fit.
static void ResolveUserCachePath(void) {
  wchar_t path[CACHE_PATH_SIZE];
  userCachePath[0] = 0;
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", path, CACHE_PATH_SIZE);
  size_t tail = sizeof USER_CACHE_TAIL / sizeof(wchar_t);  // with its terminator
  if (length == 0 || length + tail > CACHE_PATH_SIZE) return;
  CopyWide(path + length, CACHE_PATH_SIZE - length, USER_CACHE_TAIL);
  CopyWide(userCachePath, CACHE_PATH_SIZE, path);
}

void ResolveCachePath(void) {
  wchar_t path[CACHE_PATH_SIZE];
  DWORD length = GetFullPathNameW(L".\\" CACHE_FILE_NAME, CACHE_PATH_SIZE, path, NULL);
  // A start-up directory too deep for a 260-character path keeps the relative name: the save
  // then writes wherever is current, which is still the start-up directory unless a search
  // moved it.
  if (length == 0 || length >= CACHE_PATH_SIZE) CopyWide(path, CACHE_PATH_SIZE, L"" CACHE_FILE_NAME);
  CopyWide(cachePath, CACHE_PATH_SIZE, path);
  ResolveUserCachePath();
}

static FILE *OpenCacheFile(const wchar_t *path, const wchar_t *mode) {
  if (path[0] == 0) return NULL;
  return _wfopen(path, mode);
}

static bool IsExistingFile(const wchar_t *path) {
  if (path[0] == 0) return false;
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void LoadCache(void) {
  if (cachePath[0] == 0) ResolveCachePath();
  FILE *file = OpenCacheFile(userCachePath, L"rb");
  if (file == NULL) file = OpenCacheFile(cachePath, L"rb");
  if (file == NULL) return;  // normally: no run has saved yet
  ReadServerCache(file);
  fclose(file);
}

// False when the file could not be created or a write (or the flush on closing) failed.
static bool WriteCacheFile(const wchar_t *path) {
  FILE *file = OpenCacheFile(path, L"wb");
  if (file == NULL) return false;
  bool written = WriteServerCache(file);
  return fclose(file) == 0 && written;
}

// The per-user folder is made on the first fallback; its parent is the user's own.
static void CreateUserCacheFolder(void) {
  wchar_t folder[CACHE_PATH_SIZE];
  CopyWide(folder, CACHE_PATH_SIZE, userCachePath);
  wchar_t *last = wcsrchr(folder, L'\\');
  if (last == NULL) return;
  *last = 0;
  CreateDirectoryW(folder, NULL);
}

void SaveCache(void) {
  if (cachePath[0] == 0) ResolveCachePath();
  bool userCacheExists = IsExistingFile(userCachePath);
  // An existing per-user file is loaded first, so it must not fall behind the start-up one.
  if (WriteCacheFile(cachePath) && !userCacheExists) return;
  if (userCachePath[0] == 0) return;
  CreateUserCacheFolder();
  WriteCacheFile(userCachePath);
}
