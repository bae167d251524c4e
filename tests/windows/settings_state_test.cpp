// SaveState and the cache file's place: registry, cache and Winsock end, whatever fails or moves.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "settings_registry.h"

namespace {

std::string Join(const std::string &dir, const char *name) { return dir + "\\" + name; }

void SetWidePath(wchar_t *path, const std::string &text) {
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, path, CACHE_PATH_SIZE);
}

std::string Narrow(const wchar_t *path) {
  char text[MAX_PATH * 2] = "";
  WideCharToMultiByte(CP_ACP, 0, path, -1, text, sizeof text, NULL, NULL);
  return text;
}

bool FileExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWhole(const std::string &path) {
  std::string bytes;
  FILE *file = fopen(path.c_str(), "rb");
  if (file == NULL) return bytes;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  fclose(file);
  return bytes;
}

void FillTable(int count) {
  memset(records, 0, sizeof records);
  serverCount = 0;
  for (int i = 0; i < count; i++) {
    char address[32];
    snprintf(address, sizeof address, "127.0.0.%d", i + 1);
    AppendServer(address, (uint16_t)(27910 + i));
    snprintf(records[i].hostName, sizeof records[i].hostName, "host %d", i);
    records[i].fromMasterList = i % 2;
  }
}

std::string TableImage(void) {
  return std::string((const char *)records, serverCount * sizeof(ServerRecord));
}

// Winsock has been ended when a socket can no longer be made.
bool WinsockEnded(void) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s != INVALID_SOCKET) {
    closesocket(s);
    return false;
  }
  return WSAGetLastError() == WSANOTINITIALISED;
}

void StartWinsock(void) {
  WSADATA wsa;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &wsa));
}

std::string MakeTempDir(const char *name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  char dir[MAX_PATH];
  snprintf(dir, sizeof dir, "%svarnet_%s_%lu", temp, name, GetCurrentProcessId());
  CreateDirectoryA(dir, NULL);
  return dir;
}

// Runs each case in a fresh start-up directory with the program's keys removed. The per-user
// cache file lives in a scratch folder of its own, not in the prefix's real AppData.
class SaveStateTest : public testing::Test {
 protected:
  void SetUp() override {
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    initialDir = current;
    startDir = MakeTempDir("start");
    ASSERT_TRUE(SetCurrentDirectoryA(startDir.c_str()));
    memset(cachePath, 0, sizeof cachePath);
    ResolveCachePath();
    resolvedUserCache = Narrow(userCachePath);
    userDir = MakeTempDir("user");
    userCache = Join(Join(userDir, APP_NAME), CACHE_FILE_NAME);
    SetWidePath(userCachePath, userCache);
    CleanKeys();
  }
  void TearDown() override {
    SetCurrentDirectoryA(initialDir.c_str());
    DeleteFileA(Join(startDir, CACHE_FILE_NAME).c_str());
    RemoveDirectoryA(Join(startDir, CACHE_FILE_NAME).c_str());
    RemoveDirectoryA(startDir.c_str());
    SetFileAttributesA(userCache.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(userCache.c_str());
    DeleteFileA(Join(Join(userDir, APP_NAME), "kestrel.last").c_str());  // the record of the newest save
    RemoveDirectoryA(Join(userDir, APP_NAME).c_str());
    RemoveDirectoryA(userDir.c_str());
    CleanKeys();
  }
  static void CleanKeys(void) {
    DeleteSettingsKey(HKEY_LOCAL_MACHINE);
    DeleteSettingsKey(HKEY_CURRENT_USER);
  }
  std::string initialDir, startDir, userDir;
  std::string resolvedUserCache, userCache;
};

TEST_F(SaveStateTest, CachePathsAreTheStartUpDirectoryAndLocalAppData) {
  EXPECT_EQ(0, _stricmp(Join(startDir, CACHE_FILE_NAME).c_str(), Narrow(cachePath).c_str()))
      << Narrow(cachePath);
  char localAppData[MAX_PATH] = "";
  ASSERT_NE(0u, GetEnvironmentVariableA("LOCALAPPDATA", localAppData, sizeof localAppData));
  EXPECT_EQ(Join(Join(localAppData, APP_NAME), CACHE_FILE_NAME), resolvedUserCache);
}

TEST_F(SaveStateTest, WritesRegistryAndCacheThenEndsWinsock) {
  StartWinsock();
  FillTable(3);
  CopyText(gameDir, sizeof gameDir, "C:\\Games\\Quake2\\");
  CopyText(gameExe, sizeof gameExe, "quake2.exe");
  startupMethod = 2;
  SaveState();
  EXPECT_TRUE(WinsockEnded());
  EXPECT_EQ(TableImage(), ReadWhole(Join(startDir, CACHE_FILE_NAME)));
  DWORD type;
  std::string bytes;
  ASSERT_TRUE(GetSettingsValue(HKEY_LOCAL_MACHINE, "Q2Dir", &type, &bytes));
  EXPECT_EQ(std::string("C:\\Games\\Quake2\\", 17), bytes);
  ASSERT_TRUE(GetSettingsValue(HKEY_LOCAL_MACHINE, "Alt. Startup Method", &type, &bytes));
  EXPECT_EQ(std::string("\2\0\0\0", 4), bytes);
}

TEST_F(SaveStateTest, UnwritableRegistryStopsNeitherCacheNorWinsock) {
  ASSERT_TRUE(PutSettingsText(HKEY_LOCAL_MACHINE, "q2Exe", "old.exe"));
  ASSERT_TRUE(PutSettingsText(HKEY_CURRENT_USER, "q2Exe", "old.exe"));
  ASSERT_TRUE(LockSettingsKey(HKEY_LOCAL_MACHINE));
  ASSERT_TRUE(LockSettingsKey(HKEY_CURRENT_USER));
  StartWinsock();
  FillTable(2);
  CopyText(gameExe, sizeof gameExe, "new.exe");
  SaveState();
  EXPECT_EQ(TableImage(), ReadWhole(Join(startDir, CACHE_FILE_NAME)));
  EXPECT_TRUE(WinsockEnded());
  DWORD type;
  std::string bytes;
  ASSERT_TRUE(GetSettingsValue(HKEY_LOCAL_MACHINE, "q2Exe", &type, &bytes));
  EXPECT_EQ(std::string("old.exe", 8), bytes);
}

TEST_F(SaveStateTest, UncreatableCacheStopsNeitherRegistryNorWinsock) {
  SetWidePath(cachePath, Join(startDir, "no such dir\\" CACHE_FILE_NAME));
  StartWinsock();
  FillTable(1);
  CopyText(gameExe, sizeof gameExe, "after.exe");
  SaveState();
  EXPECT_TRUE(WinsockEnded());
  DWORD type;
  std::string bytes;
  ASSERT_TRUE(GetSettingsValue(HKEY_LOCAL_MACHINE, "q2Exe", &type, &bytes));
  EXPECT_EQ(std::string("after.exe", 10), bytes);
}

TEST_F(SaveStateTest, EmptyTableLeavesAnEmptyFileInPlaceOfTheOld) {
  FillTable(4);
  ASSERT_TRUE(SaveServerCache(Join(startDir, CACHE_FILE_NAME).c_str()));
  StartWinsock();
  FillTable(0);
  SaveState();
  std::string path = Join(startDir, CACHE_FILE_NAME);
  ASSERT_TRUE(FileExists(path));
  EXPECT_EQ(0u, ReadWhole(path).size());
}

int recordsBeforeFull;  // that fit on the disk; then half of one, as on a disk just filled up
BOOL WINAPI FillingDisk(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
  return WriteFile(file, data, recordsBeforeFull-- > 0 ? size : size / 2, written, NULL);
}

// The per-user file: written when the start-up directory's can't be, kept up to date once it
// exists (also while the start-up one can be written), and loaded when it is the newer one;
// saves that fail leave the newest complete table to be loaded.
TEST_F(SaveStateTest, PerUserCacheStandsInAndThenKeepsUp) {
  std::string startCache = Join(startDir, CACHE_FILE_NAME);
  FillTable(3);
  SaveCache();
  EXPECT_FALSE(FileExists(userCache)) << "written although the start-up directory could be";

  DeleteFileA(startCache.c_str());
  ASSERT_TRUE(CreateDirectoryA(startCache.c_str(), NULL));  // a name that can't be written
  FillTable(2);
  std::string fallback = TableImage();
  SaveCache();
  EXPECT_EQ(fallback, ReadWhole(userCache));
  FillTable(0);
  LoadCache();
  EXPECT_EQ(fallback, TableImage());

  ASSERT_TRUE(RemoveDirectoryA(startCache.c_str()));
  FillTable(5);
  std::string both = TableImage();
  SaveCache();
  EXPECT_EQ(both, ReadWhole(startCache));
  EXPECT_EQ(both, ReadWhole(userCache));

  // A per-user file that can't be replaced (read-only; under Wine, which replaces that, full).
  ASSERT_TRUE(SetFileAttributesA(userCache.c_str(), FILE_ATTRIBUTE_READONLY));
  FillTable(1);
  std::string newest = TableImage();
  recordsBeforeFull = 1;  // the start-up file's one record
  writeCacheBytes = FillingDisk;
  SaveCache();
  writeCacheBytes = WriteFile;
  EXPECT_EQ(newest, ReadWhole(startCache));
  EXPECT_FALSE(FileExists(userCache));

  // A full disk part-way: the last complete save stays byte for byte, no new file beside it.
  FillTable(14);
  recordsBeforeFull = 6;
  writeCacheBytes = FillingDisk;
  SaveCache();
  writeCacheBytes = WriteFile;
  EXPECT_EQ(newest, ReadWhole(startCache));
  EXPECT_FALSE(FileExists(startCache + ".new") || FileExists(userCache + ".new"));
  FillTable(0);
  LoadCache();
  EXPECT_EQ(newest, TableImage());
}

// The game search makes other drives current; the save must still land in the start-up
// directory, and the next start must find it there. Under ctest the test starts on Z: (the
// build tree) and the start-up directory is on C:.
TEST_F(SaveStateTest, CacheStaysInTheStartUpDirectoryAfterADriveChange) {
  std::string otherDir = Join(initialDir, "varnet_other_drive");
  if (toupper(initialDir[0]) == toupper(startDir[0])) otherDir = "Z:\\tmp\\varnet_other_drive";
  CreateDirectoryA(otherDir.c_str(), NULL);
  ASSERT_TRUE(SetCurrentDirectoryA(otherDir.c_str()));
  ASSERT_NE(toupper(otherDir[0]), toupper(startDir[0])) << "no second drive to move to";
  DeleteFileA(Join(otherDir, CACHE_FILE_NAME).c_str());

  StartWinsock();
  FillTable(5);
  std::string saved = TableImage();
  SaveState();
  EXPECT_FALSE(FileExists(Join(otherDir, CACHE_FILE_NAME)));
  EXPECT_EQ(saved, ReadWhole(Join(startDir, CACHE_FILE_NAME)));
  DeleteFileA(Join(otherDir, CACHE_FILE_NAME).c_str());
  RemoveDirectoryA(otherDir.c_str());

  // The next start, from the same directory, loads the table.
  ASSERT_TRUE(SetCurrentDirectoryA(startDir.c_str()));
  memset(cachePath, 0, sizeof cachePath);
  ResolveCachePath();
  SetWidePath(userCachePath, userCache);
  FillTable(0);
  LoadCache();
  ASSERT_EQ(5, serverCount);
  EXPECT_EQ(saved, TableImage());
}

}  // namespace
