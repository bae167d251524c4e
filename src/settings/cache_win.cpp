// The cache file's two places, resolved and opened by wide-character name.
//
// A start-up folder's name may lie outside the ANSI code page (a player's user name in
// Cyrillic, say), where the ANSI functions would turn its letters into '?', so its path is
// never held as ANSI text. A standard user who starts the browser in a folder under
// Program Files can't write there (the manifest turns file virtualization off), so the save
// falls back to a per-user file; once that file exists it is the one loaded and it is kept up
// to date, as the per-user settings key is.
//
// A save never cuts a saved table short: the table is written whole to a new file beside the
// old one, which is replaced only once the new file is complete and on the disk. A full disk,
// a crash or a power cut therefore leaves the last complete save in place, and the next start
// loads whichever of the two files was written last.
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

BOOL(WINAPI *writeCacheBytes)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;

static FILE *OpenCacheFile(const wchar_t *path, const wchar_t *mode) {
  if (path[0] == 0) return NULL;
  return _wfopen(path, mode);
}

static bool GetFileTimes(const wchar_t *path, WIN32_FILE_ATTRIBUTE_DATA *data) {
  if (path[0] == 0 || !GetFileAttributesExW(path, GetFileExInfoStandard, data)) return false;
  return !(data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool IsExistingFile(const wchar_t *path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileTimes(path, &data);
}

// Each file holds a save that completed, so the one written last is the newest table. A tie
// goes to the per-user file, which a save that writes both writes second.
static const wchar_t *NewestCacheFile(void) {
  WIN32_FILE_ATTRIBUTE_DATA start, user;
  if (!GetFileTimes(userCachePath, &user)) return cachePath;
  if (!GetFileTimes(cachePath, &start)) return userCachePath;
  return CompareFileTime(&start.ftLastWriteTime, &user.ftLastWriteTime) > 0 ? cachePath : userCachePath;
}

void LoadCache(void) {
  if (cachePath[0] == 0) ResolveCachePath();
  const wchar_t *newest = NewestCacheFile();
  FILE *file = OpenCacheFile(newest, L"rb");
  // One that can't be read (held open by another program, say): the other beats an empty table.
  if (file == NULL) file = OpenCacheFile(newest == cachePath ? userCachePath : cachePath, L"rb");
  if (file == NULL) return;  // normally: no run has saved yet
  ReadServerCache(file);
  fclose(file);
}

static bool WriteRecords(HANDLE file) {
  for (int32_t i = 0; i < serverCount && i < MAX_SERVERS; i++) {
    DWORD written = 0;
    if (!writeCacheBytes(file, &records[i], sizeof records[i], &written, NULL)) return false;
    if (written != sizeof records[i]) return false;
  }
  return true;
}

// The file beside path that a save writes first: path and ".new", false when it won't fit.
static bool NewFilePath(wchar_t *newPath, size_t size, const wchar_t *path) {
  size_t length = wcslen(path);
  if (length == 0 || length + 5 > size) return false;
  CopyWide(newPath, size, path);
  CopyWide(newPath + length, size - length, L".new");
  return true;
}

// False when any step failed; then the new file is gone and the old one is as it was.
static bool WriteCacheFile(const wchar_t *path) {
  wchar_t newPath[CACHE_PATH_SIZE + 4];
  if (!NewFilePath(newPath, CACHE_PATH_SIZE + 4, path)) return false;
  SetFileAttributesW(newPath, FILE_ATTRIBUTE_NORMAL);  // a read-only leftover of a crash
  HANDLE file = CreateFileW(newPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = WriteRecords(file) && FlushFileBuffers(file);
  written = CloseHandle(file) && written;
  if (written && MoveFileExW(newPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(newPath);
  return false;
}

// A per-user file left behind by a failed save holds an older table than the start-up one;
// gone, it can't win the next load. A read-only file can't be deleted until it is writable.
static void DeleteStaleFile(const wchar_t *path) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  DeleteFileW(path);
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
  bool saved = WriteCacheFile(cachePath);
  if (saved && !userCacheExists) return;
  if (userCachePath[0] == 0) return;
  CreateUserCacheFolder();
  if (!WriteCacheFile(userCachePath) && saved) DeleteStaleFile(userCachePath);
}
