// The cache file's two places, resolved and opened by wide-character name.
//
// A start-up folder's name may lie outside the ANSI code page (a player's user name in
// Cyrillic, say), where the ANSI functions would turn its letters into '?', so its path is
// never held as ANSI text. A standard user who starts the browser in a folder under
// Program Files can't write there (the manifest turns file virtualization off), so the save
// falls back to a per-user file; once that file exists it is kept up to date, as the per-user
// settings key is.
//
// A save never cuts a saved table short: the table is written whole to a new file beside the
// old one, which is replaced only once the new file is complete and on the disk. A full disk,
// a crash or a power cut therefore leaves the last complete save in place. Which of the two
// files was written last is recorded beside the per-user file, as last-write times can't tell
// across volumes (FAT keeps local time, a share the server's clock, an archive its own).
//
// Scanners, indexers, backup and sync clients open these files for a moment, often without
// delete sharing: a move or delete they block is tried again for about a second, and a file
// that can't be read at start-up is never written over by that run.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <stdio.h>
#include <wchar.h>

#include "settings/settings_win.h"

wchar_t cachePath[CACHE_PATH_SIZE];
wchar_t userCachePath[CACHE_PATH_SIZE];

#define USER_CACHE_TAIL L"\\" APP_NAME L"\\" CACHE_FILE_NAME
#define NEWEST_RECORD_NAME L"kestrel.last"

enum { HOLD_RETRIES = 10, HOLD_WAIT_MS = 100, LONG_PATH_SIZE = CACHE_PATH_SIZE + 16 };

// Set by LoadCache for a file that exists but could not be read: the run's save leaves it be.
static bool startupUnread, userUnread;

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

static bool IsSamePathText(const wchar_t *a, const wchar_t *b) {
  return a[0] != 0 && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The folder of a file path, without its last backslash; false when there is none.
static bool FolderOf(const wchar_t *path, wchar_t *folder, size_t size) {
  if (!CopyWide(folder, size, path)) return false;
  wchar_t *last = wcsrchr(folder, L'\\');
  if (last == NULL) return false;
  *last = 0;
  return true;
}

static bool ReadFileId(const wchar_t *path, BY_HANDLE_FILE_INFORMATION *info) {
  HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool read = GetFileInformationByHandle(file, info) != 0;
  CloseHandle(file);
  return read;
}

// Started in the per-user folder itself, or in another name of it (a short name, a link):
// the two files are one, and a save must write it once.
static bool IsSameFolder(const wchar_t *fileA, const wchar_t *fileB) {
  wchar_t a[CACHE_PATH_SIZE], b[CACHE_PATH_SIZE];
  if (!FolderOf(fileA, a, CACHE_PATH_SIZE) || !FolderOf(fileB, b, CACHE_PATH_SIZE)) return false;
  if (IsSamePathText(a, b)) return true;
  BY_HANDLE_FILE_INFORMATION idA, idB;
  if (!ReadFileId(a, &idA) || !ReadFileId(b, &idB)) return false;
  return idA.dwVolumeSerialNumber == idB.dwVolumeSerialNumber && idA.nFileIndexHigh == idB.nFileIndexHigh &&
         idA.nFileIndexLow == idB.nFileIndexLow;
}

// Local AppData\Varnet Server Browser\kestrel.cache, or empty when there is no such folder or
// the path would not fit. The known folder, not %LOCALAPPDATA%: a launcher may start the
// program with an empty environment.
static void ResolveUserCachePath(void) {
  wchar_t path[CACHE_PATH_SIZE];
  userCachePath[0] = 0;
  PWSTR folder = NULL;
  bool found = SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, NULL, &folder)) &&
               CopyWide(path, CACHE_PATH_SIZE, folder);
  CoTaskMemFree(folder);
  size_t length = found ? wcslen(path) : 0;
  if (length == 0 || !CopyWide(path + length, CACHE_PATH_SIZE - length, USER_CACHE_TAIL)) return;
  if (!IsSameFolder(path, cachePath)) CopyWide(userCachePath, CACHE_PATH_SIZE, path);
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

// After a failed attempt: true (having waited) while another program's brief hold may be what
// stopped it. Anything else, or a hold of over a second, is a real failure.
static bool WaitOutHold(int attempt) {
  DWORD error = GetLastError();
  if (attempt >= HOLD_RETRIES || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
    return false;
  Sleep(HOLD_WAIT_MS);
  return true;
}

static bool MoveOver(const wchar_t *from, const wchar_t *to) {
  for (int attempt = 0;; attempt++) {
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (!WaitOutHold(attempt)) return false;
  }
}

static bool DeleteHeldFile(const wchar_t *path) {
  for (int attempt = 0;; attempt++) {
    if (DeleteFileW(path)) return true;
    if (GetLastError() == ERROR_FILE_NOT_FOUND || !WaitOutHold(attempt)) return false;
  }
}

static HANDLE OpenHeldFile(const wchar_t *path, DWORD access, DWORD share, DWORD disposition) {
  for (int attempt = 0;; attempt++) {
    HANDLE file = CreateFileW(path, access, share, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE || !WaitOutHold(attempt)) return file;
  }
}

static bool GetFileTimes(const wchar_t *path, WIN32_FILE_ATTRIBUTE_DATA *data) {
  if (path[0] == 0 || !GetFileAttributesExW(path, GetFileExInfoStandard, data)) return false;
  return !(data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool IsExistingFile(const wchar_t *path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileTimes(path, &data);
}

static bool IsDirectory(const wchar_t *path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The record of the file written last sits beside the per-user file, which exists whenever
// there are two files to choose from; it holds that file's full path.
static bool NewestRecordPath(wchar_t *path, size_t size) {
  if (!FolderOf(userCachePath, path, size)) return false;
  size_t length = wcslen(path);
  return CopyWide(path + length, size - length, L"\\" NEWEST_RECORD_NAME);
}

static NewestRecord ReadNewestRecord(void) {
  wchar_t path[LONG_PATH_SIZE], named[CACHE_PATH_SIZE];
  if (!NewestRecordPath(path, LONG_PATH_SIZE)) return RECORD_MISSING;
  HANDLE file =
      OpenHeldFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return RECORD_MISSING;
  DWORD read = 0;
  bool ok = ReadFile(file, named, sizeof named - sizeof named[0], &read, NULL) && read > 0 && read % 2 == 0;
  CloseHandle(file);
  if (!ok) return RECORD_MISSING;
  named[read / sizeof named[0]] = 0;
  if (IsSamePathText(named, cachePath)) return RECORD_NAMES_STARTUP;
  if (IsSamePathText(named, userCachePath)) return RECORD_NAMES_USER;
  return RECORD_NAMES_OTHER;
}

// A record that could not be written is deleted, so that it can't name an older file.
static void RecordNewest(const wchar_t *written) {
  wchar_t path[LONG_PATH_SIZE];
  if (!NewestRecordPath(path, LONG_PATH_SIZE)) return;
  HANDLE file = OpenHeldFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return (void)DeleteHeldFile(path);
  DWORD size = (DWORD)(wcslen(written) * sizeof written[0]), done = 0;
  bool ok = WriteFile(file, written, size, &done, NULL) && done == size;
  ok = CloseHandle(file) && ok;
  if (!ok) DeleteHeldFile(path);
}

static const wchar_t *NewestCacheFile(void) {
  WIN32_FILE_ATTRIBUTE_DATA start = {}, user = {};
  bool userExists = GetFileTimes(userCachePath, &user);
  bool startExists = GetFileTimes(cachePath, &start);
  int order = CompareFileTime(&start.ftLastWriteTime, &user.ftLastWriteTime);
  NewestRecord record = startExists && userExists ? ReadNewestRecord() : RECORD_MISSING;
  return ChooseCacheFile(startExists, userExists, record, order) == LOAD_USER_FILE ? userCachePath
                                                                                   : cachePath;
}

enum CacheRead { CACHE_READ, CACHE_ABSENT, CACHE_UNREADABLE };

// Opened for reading only, sharing everything, and tried again while another program holds it.
static CacheRead ReadCacheFrom(const wchar_t *path) {
  if (!IsExistingFile(path)) return CACHE_ABSENT;  // normally: no run has saved there yet
  HANDLE handle =
      OpenHeldFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return CACHE_UNREADABLE;
  int descriptor = _open_osfhandle((intptr_t)handle, _O_RDONLY | _O_BINARY);
  FILE *file = descriptor == -1 ? NULL : _fdopen(descriptor, "rb");
  if (file == NULL) {
    if (descriptor == -1)
      CloseHandle(handle);
    else
      _close(descriptor);
    return CACHE_UNREADABLE;
  }
  ReadServerCache(file);
  fclose(file);
  return CACHE_READ;
}

// The newest file, else the other: any table beats an empty one.
void LoadCache(void) {
  if (cachePath[0] == 0) ResolveCachePath();
  const wchar_t *newest = NewestCacheFile();
  const wchar_t *other = newest == cachePath ? userCachePath : cachePath;
  CacheRead first = ReadCacheFrom(newest);
  CacheRead second = first == CACHE_READ ? CACHE_ABSENT : ReadCacheFrom(other);
  startupUnread = (newest == cachePath ? first : second) == CACHE_UNREADABLE;
  userUnread = (newest == cachePath ? second : first) == CACHE_UNREADABLE;
}

static bool WriteRecords(HANDLE file) {
  for (int32_t i = 0; i < serverCount && i < MAX_SERVERS; i++) {
    DWORD written = 0;
    if (!writeCacheBytes(file, &records[i], sizeof records[i], &written, NULL)) return false;
    if (written != sizeof records[i]) return false;
  }
  return true;
}

// path in a form whose ".new" fits: a path of 256 to 259 characters is too long for the plain
// Win32 name once the suffix is added, and takes the \\?\ prefix (\\?\UNC\ for a share).
static bool LongFilePath(wchar_t *longPath, size_t size, const wchar_t *path, const wchar_t *suffix) {
  const wchar_t *prefix = L"";
  size_t skip = 0;
  if (wcslen(path) + wcslen(suffix) >= MAX_PATH && wcsncmp(path, L"\\\\?\\", 4) != 0) {
    if (wcsncmp(path, L"\\\\", 2) == 0) {
      prefix = L"\\\\?\\UNC\\";
      skip = 2;
    } else if (path[0] != 0 && path[1] == L':' && path[2] == L'\\') {
      prefix = L"\\\\?\\";
    } else {
      return false;
    }
  }
  int length = swprintf(longPath, size, L"%ls%ls%ls", prefix, path + skip, suffix);
  return length > 0 && (size_t)length < size;
}

// False when any step failed; then the new file is gone and the old one is as it was.
static bool WriteCacheFile(const wchar_t *path) {
  wchar_t newPath[LONG_PATH_SIZE];
  if (path[0] == 0 || IsDirectory(path) || !LongFilePath(newPath, LONG_PATH_SIZE, path, L".new"))
    return false;
  SetFileAttributesW(newPath, FILE_ATTRIBUTE_NORMAL);  // a read-only leftover of a crash
  HANDLE file = OpenHeldFile(newPath, GENERIC_WRITE, 0, CREATE_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = WriteRecords(file) && FlushFileBuffers(file);
  written = CloseHandle(file) && written;
  if (written && MoveOver(newPath, path)) return true;
  DeleteHeldFile(newPath);
  return false;
}

// A per-user file left behind by a failed save holds an older table than the start-up one;
// gone, it can't win the next load even without a record. A read-only file can't be deleted
// until it is writable.
static void DeleteStaleFile(const wchar_t *path) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  DeleteHeldFile(path);
}

// The per-user folder is made on the first fallback; its parent is the user's own.
static void CreateUserCacheFolder(void) {
  wchar_t folder[CACHE_PATH_SIZE];
  if (FolderOf(userCachePath, folder, CACHE_PATH_SIZE)) CreateDirectoryW(folder, NULL);
}

// A file that could not be read at start-up is left as it is: the run's table goes to the
// other file. An empty table then is written nowhere: it would only hide the unread one.
void SaveCache(void) {
  if (cachePath[0] == 0) ResolveCachePath();
  if (serverCount == 0 && (startupUnread || userUnread)) return;
  bool userCacheExists = IsExistingFile(userCachePath);
  bool saved = !startupUnread && WriteCacheFile(cachePath);
  const wchar_t *written = saved ? cachePath : NULL;
  if ((!saved || userCacheExists) && userCachePath[0] != 0 && !userUnread) {
    CreateUserCacheFolder();
    if (WriteCacheFile(userCachePath))
      written = userCachePath;  // the same table as the start-up file: the tie goes to it
    else if (saved)
      DeleteStaleFile(userCachePath);
  }
  if (written != NULL) RecordNewest(written);
}
