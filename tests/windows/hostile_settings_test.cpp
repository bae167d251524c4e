// Hostile settings: random and truncated cache files, and registry values of the wrong type,
// too long, or without a terminator.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "pump.h"
#include "query/query_win.h"
#include "query_fake_server.h"
#include "settings_registry.h"
#include "window_read.h"

namespace {

const char DIR_VALUE[] = "Q2Dir";
const char EXE_VALUE[] = "q2Exe";
const char METHOD_VALUE[] = "Alt. Startup Method";
const char TEST_ROOTS[] = "Software\\VarnetHostileSettingsTest";
const size_t RECORD_SIZE = sizeof(ServerRecord);

// The same bytes on every run, so a failure can be repeated.
std::string RandomBytes(size_t count, uint32_t seed) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i++) {
    seed = seed * 1664525u + 1013904223u;
    bytes[i] = (char)(seed >> 24);
  }
  return bytes;
}

std::string TempPath(const char *name) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  char path[MAX_PATH];
  snprintf(path, sizeof path, "%svarnet_hostile_%lu_%s", dir, GetCurrentProcessId(), name);
  return path;
}

bool WriteWhole(const std::string &path, const std::string &bytes) {
  FILE *file = fopen(path.c_str(), "wb");
  if (file == NULL) return false;
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

// What a loaded record must be: the file's bytes, with the last byte of every text field made
// a terminator and the player count brought into 0 to 64.
ServerRecord Repaired(const char *image) {
  ServerRecord record;
  memcpy(&record, image, sizeof record);
  record.address[TEXT_FIELD_SIZE - 1] = 0;
  record.hostName[TEXT_FIELD_SIZE - 1] = 0;
  record.mapName[TEXT_FIELD_SIZE - 1] = 0;
  for (PlayerEntry &player : record.players) player.name[PLAYER_NAME_SIZE - 1] = 0;
  if (record.playerCount < 0) record.playerCount = 0;
  if (record.playerCount > MAX_PLAYERS) record.playerCount = MAX_PLAYERS;
  return record;
}

void ExpectTerminated(const ServerRecord &r) {
  EXPECT_LT(strnlen(r.address, sizeof r.address), sizeof r.address);
  EXPECT_LT(strnlen(r.hostName, sizeof r.hostName), sizeof r.hostName);
  EXPECT_LT(strnlen(r.mapName, sizeof r.mapName), sizeof r.mapName);
  for (const PlayerEntry &p : r.players) EXPECT_LT(strnlen(p.name, sizeof p.name), sizeof p.name);
  EXPECT_GE(r.playerCount, 0);
  EXPECT_LE(r.playerCount, MAX_PLAYERS);
}

// Loads the file into a table whose slots all hold a marker, and checks every slot: whole
// records repaired as above, the slots past them untouched.
void ExpectLoadedAsRepaired(const std::string &path, const std::string &bytes) {
  memset(records, 0x5A, sizeof records);
  serverCount = 0;
  LoadServerCache(path.c_str());
  std::vector<const char *> kept;  // whole records with an address, the first 64
  for (size_t i = 0; i < bytes.size() / RECORD_SIZE && kept.size() < MAX_SERVERS; i++)
    if (bytes[i * RECORD_SIZE] != 0) kept.push_back(bytes.data() + i * RECORD_SIZE);
  ASSERT_EQ((int)kept.size(), serverCount);
  for (int i = 0; i < serverCount; i++) {
    SCOPED_TRACE(i);
    ServerRecord repaired = Repaired(kept[i]);
    EXPECT_EQ(0, memcmp(&repaired, &records[i], RECORD_SIZE));
    ExpectTerminated(records[i]);
  }
  ServerRecord marker;
  memset(&marker, 0x5A, sizeof marker);
  for (int i = serverCount; i < MAX_SERVERS; i++)
    EXPECT_EQ(0, memcmp(&marker, &records[i], RECORD_SIZE)) << i;
}

TEST(HostileCache, RandomBytesLoadWholeRecordsRepaired) {
  const size_t sizes[] = {0,
                          1,
                          RECORD_SIZE - 1,
                          RECORD_SIZE,
                          3 * RECORD_SIZE + 1000,
                          64 * RECORD_SIZE,
                          64 * RECORD_SIZE + RECORD_SIZE - 1,
                          70 * RECORD_SIZE + 5};
  const std::string path = TempPath("random.cache");
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    std::string bytes = RandomBytes(size, (uint32_t)size * 2654435761u + 7u);
    ASSERT_TRUE(WriteWhole(path, bytes));
    ExpectLoadedAsRepaired(path, bytes);
  }
  DeleteFileA(path.c_str());
}

// Random bytes seldom give a player count inside 0 to 64, so these are set on purpose: the
// extremes, the edges, and texts that fill their fields without a terminator.
TEST(HostileCache, PlayerCountsAndFullTextsAreRepaired) {
  const int32_t counts[] = {INT32_MIN, -1, 0, 64, 65, INT32_MAX};
  std::string bytes;
  for (size_t i = 0; i < sizeof counts / sizeof counts[0]; i++) {
    std::string image(RECORD_SIZE, (char)('A' + i));  // every text field full, no terminator
    memcpy(&image[offsetof(ServerRecord, playerCount)], &counts[i], sizeof counts[i]);
    bytes += image;
  }
  const std::string path = TempPath("counts.cache");
  ASSERT_TRUE(WriteWhole(path, bytes));
  ExpectLoadedAsRepaired(path, bytes);
  const int32_t expected[] = {0, 0, 0, 64, 64, 64};
  for (int i = 0; i < serverCount; i++) EXPECT_EQ(expected[i], records[i].playerCount) << i;
  EXPECT_EQ(std::string(255, 'A'), records[0].hostName);
  DeleteFileA(path.c_str());
}

// A cache the program wrote, cut anywhere: the whole records before the cut load unchanged.
TEST(HostileCache, TruncatedFileLoadsItsWholeRecords) {
  memset(records, 0, sizeof records);
  serverCount = 0;
  for (int i = 0; i < 3; i++) {
    char address[32];
    snprintf(address, sizeof address, "10.0.0.%d", i + 1);
    ASSERT_TRUE(AppendServer(address, (uint16_t)(27910 + i)));
    snprintf(records[i].hostName, sizeof records[i].hostName, "Saved %d", i);
    records[i].playerCount = i;
    records[i].fromMasterList = i % 2;
  }
  const std::string path = TempPath("saved.cache");
  ASSERT_TRUE(SaveServerCache(path.c_str()));
  std::string saved((const char *)records, 3 * RECORD_SIZE);
  const size_t cuts[] = {
      0, 1, RECORD_SIZE - 1, RECORD_SIZE, RECORD_SIZE + 770, 2 * RECORD_SIZE + 2327, 3 * RECORD_SIZE};
  for (size_t cut : cuts) {
    SCOPED_TRACE(cut);
    std::string bytes = saved.substr(0, cut);
    ASSERT_TRUE(WriteWhole(path, bytes));
    ExpectLoadedAsRepaired(path, bytes);
    for (int i = 0; i < serverCount; i++)
      EXPECT_EQ(0, memcmp(saved.data() + i * RECORD_SIZE, &records[i], RECORD_SIZE));
  }
  DeleteFileA(path.c_str());
}

// The real start-up with a cache of random records whose addresses are 127.0.0.1 (so the
// refresh stays on this machine): the refresh clears every byte of reply data the file
// brought, answered or not, and keeps only the address, port and master-list flag.
class StartUpWithRandomCache : public ::testing::Test {
 protected:
  enum { ANSWERING = 3, RECORDS = ANSWERING + 1 };

  void SetUp() override {
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    initialDir = current;
    startDir = TempPath("start");
    CreateDirectoryA(startDir.c_str(), NULL);
    ASSERT_TRUE(SetCurrentDirectoryA(startDir.c_str()));
    for (int i = 0; i < RECORDS; i++) {
      InitFakeServer(&fakes[i]);
      if (i >= ANSWERING) fakes[i].laterAction = FAKE_IGNORE;
      char info[96];
      snprintf(info, sizeof info, "\\hostname\\Clean %d\\mapname\\q2dm%d\\maxclients\\8", i, i + 1);
      SetFakeReply(&fakes[i], info, "3 40 \"Tidy\"\n");
      ASSERT_TRUE(StartFakeServer(&fakes[i]));
    }
  }

  void TearDown() override {
    // The program saves the registry and the cache when its window is destroyed; this test
    // must leave the prefix's registry alone, so the window goes without the program's handler.
    if (hwndMain != NULL) {
      SetWindowLongPtrA(hwndMain, GWLP_WNDPROC, (LONG_PTR)DefWindowProcA);
      DestroyWindow(hwndMain);
      hwndMain = NULL;
    }
    for (int i = 0; i < RECORDS; i++) StopFakeServer(&fakes[i]);
    SetCurrentDirectoryA(initialDir.c_str());
    DeleteFileA((startDir + "\\" CACHE_FILE_NAME).c_str());
    RemoveDirectoryA(startDir.c_str());
  }

  // Random records, each with "127.0.0.1" and a terminator over the start of its address.
  std::string RandomCache() {
    std::string bytes = RandomBytes(RECORDS * RECORD_SIZE, 20240601u);
    for (int i = 0; i < RECORDS; i++) {
      char *image = &bytes[i * RECORD_SIZE];
      memcpy(image, "127.0.0.1", 10);
      memcpy(image + offsetof(ServerRecord, port), &fakes[i].port, sizeof fakes[i].port);
    }
    return bytes;
  }

  FakeServer fakes[RECORDS];
  std::string initialDir, startDir;
};

TEST_F(StartUpWithRandomCache, RefreshClearsTheReplyDataTheFileBrought) {
  std::string bytes = RandomCache();
  ASSERT_TRUE(WriteWhole(CACHE_FILE_NAME, bytes));
  appInstance = GetModuleHandleA(NULL);
  memset(cachePath, 0, sizeof cachePath);
  ResolveCachePath();
  RegisterMainClass();
  InitCommonControls();
  ASSERT_NE(nullptr, CreateMainWindow());
  SendMessageA(hwndMain, WM_APP_INIT, 0, 0);
  ASSERT_EQ(RECORDS, serverCount);
  ASSERT_TRUE(PumpUntil(
      [] { return StatusText(hwndStatusBar, 0).rfind("Completed.", 0) == 0 && !IsPassRunning(); }, 15000))
      << StatusText(hwndStatusBar, 0);
  PumpFor(150);  // the coordinator outlives its pass by its last sleep
  EXPECT_EQ("Completed. 3 of 4 servers responded.", StatusText(hwndStatusBar, 0));
  EXPECT_EQ(ANSWERING, ListCount(hwndServerList));

  for (int i = 0; i < RECORDS; i++) {
    SCOPED_TRACE(i);
    const ServerRecord loaded = Repaired(bytes.data() + i * RECORD_SIZE);
    const ServerRecord &r = records[i];
    ServerRecord expected;
    memset(&expected, 0, sizeof expected);
    CopyText(expected.address, sizeof expected.address, "127.0.0.1");
    expected.port = fakes[i].port;
    expected.fromMasterList = loaded.fromMasterList;  // whatever the file said
    expected.queryStartTime = r.queryStartTime;
    if (i < ANSWERING) {
      snprintf(expected.hostName, sizeof expected.hostName, "Clean %d", i);
      snprintf(expected.mapName, sizeof expected.mapName, "q2dm%d", i + 1);
      expected.maxClients = 8;
      expected.playerCount = 1;
      CopyText(expected.players[0].name, sizeof expected.players[0].name, "Tidy");
      expected.players[0].score = 3;
      expected.players[0].ping = 40;
      expected.ping = r.ping;
      EXPECT_GE(r.ping, 0);
      EXPECT_LT(r.ping, 1000);
    }
    EXPECT_NE(0u, r.queryStartTime);
    EXPECT_EQ(0, memcmp(&expected, &r, sizeof r)) << "bytes from the file survived the refresh";
  }
}

// Settings read through the registry seam from a private stand-in root, so no other test in
// the prefix ever sees these values.
class HostileRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, TEST_ROOTS);
    machineRoot = OpenRoot("machine");
    userRoot = OpenRoot("user");
    ASSERT_NE(nullptr, machineRoot);
    ASSERT_NE(nullptr, userRoot);
  }

  void TearDown() override {
    RegCloseKey(machineRoot);
    RegCloseKey(userRoot);
    RegDeleteTreeA(HKEY_CURRENT_USER, TEST_ROOTS);
  }

  static HKEY OpenRoot(const char *name) {
    char path[256];
    snprintf(path, sizeof path, "%s\\%s", TEST_ROOTS, name);
    HKEY key = NULL;
    RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    return key;
  }

  // Settings full of junk after a short text, so a missing terminator or a partial write shows.
  static void FillSettings(void) {
    memset(gameDir, 'D', sizeof gameDir);
    CopyText(gameDir, sizeof gameDir, "before\\");
    memset(gameExe, 'E', sizeof gameExe);
    CopyText(gameExe, sizeof gameExe, "before.exe");
    startupMethod = 0x7F7F7F7F;
  }

  void Put(HKEY root, const char *name, DWORD type, const std::string &bytes) {
    DeleteValue(root, name);
    ASSERT_TRUE(PutSettingsValue(root, name, type, bytes.data(), (DWORD)bytes.size())) << name;
  }

  static void DeleteValue(HKEY root, const char *name) {
    HKEY key;
    if (RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
  }

  HKEY machineRoot = NULL;
  HKEY userRoot = NULL;
};

std::string Dword(DWORD number) { return std::string((const char *)&number, sizeof number); }

// What a text setting holds after a raw value of these bytes: up to 260 bytes are taken as a
// text ending at its first NUL, or at its end; a value over 260 bytes, or 260 bytes without a
// NUL, is ignored and the setting keeps every byte it had.
std::string ExpectedText(const std::string &bytes, const char *before) {
  if (bytes.size() > SETTING_TEXT_SIZE) return before;
  std::string text = bytes.substr(0, bytes.find('\0'));
  return text.size() >= SETTING_TEXT_SIZE ? std::string(before) : text;
}

void ExpectSettingIs(const char *setting, const std::string &expected, const char *before, char fill) {
  ASSERT_NE(nullptr, memchr(setting, 0, SETTING_TEXT_SIZE)) << "not terminated within 260 bytes";
  EXPECT_EQ(expected, std::string(setting));
  if (expected != before) return;
  // Ignored: not a byte of the setting changed.
  std::string image(SETTING_TEXT_SIZE, fill);
  memcpy(&image[0], before, strlen(before) + 1);
  EXPECT_EQ(0, memcmp(image.data(), setting, SETTING_TEXT_SIZE));
}

TEST_F(HostileRegistry, ValuesOfTheWrongTypeAreTakenAsTheirBytes) {
  struct Case {
    const char *what;
    const char *name;
    DWORD type;
    std::string bytes;
  } cases[] = {
      {"dword directory", DIR_VALUE, REG_DWORD, Dword(0x44434241)},  // "ABCD", no terminator
      {"qword executable", EXE_VALUE, REG_QWORD, std::string("q.exe\0\0\0", 8)},
      {"multi-string executable", EXE_VALUE, REG_MULTI_SZ, std::string("one.exe\0two.exe\0\0", 17)},
      {"expandable directory", DIR_VALUE, REG_EXPAND_SZ, std::string("%TEMP%\\\0", 8)},
      {"none-typed directory", DIR_VALUE, REG_NONE, std::string("C:\\Raw\\", 7)},
      {"big-endian executable", EXE_VALUE, REG_DWORD_BIG_ENDIAN, Dword(0x00657865)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Put(machineRoot, c.name, c.type, c.bytes);
    FillSettings();
    LoadSettingsFrom(machineRoot, userRoot);
    bool dir = strcmp(c.name, DIR_VALUE) == 0;
    ExpectSettingIs(dir ? gameDir : gameExe, ExpectedText(c.bytes, dir ? "before\\" : "before.exe"),
                    dir ? "before\\" : "before.exe", dir ? 'D' : 'E');
    DeleteValue(machineRoot, c.name);
  }
}

// The method is read into the 4 bytes it had: shorter data replaces only the low bytes, and
// data over 4 bytes is ignored, whatever its type.
TEST_F(HostileRegistry, MethodOfTheWrongTypeReplacesOnlyWhatFits) {
  struct Case {
    const char *what;
    DWORD type;
    std::string bytes;
    int32_t expected;  // it held 0x7F7F7F7F before
  } cases[] = {
      {"text \"1\"", REG_SZ, std::string("1\0", 2), 0x7F7F0031},
      {"text \"123\"", REG_SZ, std::string("123\0", 4), 0x00333231},
      {"text \"12345\"", REG_SZ, std::string("12345\0", 6), 0x7F7F7F7F},
      {"three binary bytes", REG_BINARY, std::string("\x01\x02\x03", 3), 0x7F030201},
      {"empty binary", REG_BINARY, std::string(), 0x7F7F7F7F},
      {"qword", REG_QWORD, std::string("\x02\0\0\0\0\0\0\0", 8), 0x7F7F7F7F},
      {"300 bytes", REG_BINARY, std::string(300, '\x01'), 0x7F7F7F7F},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Put(machineRoot, METHOD_VALUE, c.type, c.bytes);
    FillSettings();
    LoadSettingsFrom(machineRoot, userRoot);
    EXPECT_EQ(c.expected, startupMethod);
  }
}

// Raw values of every length from 0 to 600 bytes, with and without NULs, for both texts.
TEST_F(HostileRegistry, TextValuesOfAnyLengthEndTerminatedWithin260Bytes) {
  for (size_t size = 0; size <= 600; size += (size < 250 || size > 270) ? 23 : 1) {
    for (int variant = 0; variant < 3; variant++) {
      SCOPED_TRACE(std::to_string(size) + " bytes, variant " + std::to_string(variant));
      std::string bytes(size, 'a');
      for (size_t i = 0; i < size; i++) bytes[i] = (char)('a' + (i * 7 + variant) % 26);
      if (variant == 1 && size > 0) bytes[size / 2] = '\0';  // a NUL in the middle
      if (variant == 2 && size > 0) bytes[size - 1] = '\0';  // terminated at its end
      Put(machineRoot, DIR_VALUE, REG_BINARY, bytes);
      Put(machineRoot, EXE_VALUE, REG_NONE, bytes);
      FillSettings();
      LoadSettingsFrom(machineRoot, userRoot);
      ExpectSettingIs(gameDir, ExpectedText(bytes, "before\\"), "before\\", 'D');
      ExpectSettingIs(gameExe, ExpectedText(bytes, "before.exe"), "before.exe", 'E');
    }
  }
}

// Text-typed values over 259 characters: the data no longer fits 260 bytes, so it is ignored.
TEST_F(HostileRegistry, OverlongTextValuesAreIgnored) {
  const size_t lengths[] = {259, 260, 261, 1000, 70000};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    std::string text(length, 'p');
    Put(machineRoot, DIR_VALUE, REG_SZ, text + '\0');
    Put(machineRoot, EXE_VALUE, REG_EXPAND_SZ, text + '\0');
    FillSettings();
    LoadSettingsFrom(machineRoot, userRoot);
    ExpectSettingIs(gameDir, length <= 259 ? text : "before\\", "before\\", 'D');
    ExpectSettingIs(gameExe, length <= 259 ? text : "before.exe", "before.exe", 'E');
  }
}

// The per-user key is read over the machine key value by value: a hostile user value that is
// ignored leaves the machine's value, one that is taken replaces it.
TEST_F(HostileRegistry, HostileUserValuesOverGoodMachineValues) {
  Put(machineRoot, DIR_VALUE, REG_SZ, std::string("C:\\Games\\Quake2\\\0", 17));
  Put(machineRoot, EXE_VALUE, REG_SZ, std::string("quake2.exe\0", 11));
  Put(machineRoot, METHOD_VALUE, REG_DWORD, Dword(1));
  Put(userRoot, DIR_VALUE, REG_BINARY, std::string(300, 'u'));    // too long: ignored
  Put(userRoot, EXE_VALUE, REG_BINARY, std::string("u.exe", 5));  // no terminator: taken
  Put(userRoot, METHOD_VALUE, REG_SZ, std::string("2\0", 2));     // two bytes over the 1
  FillSettings();
  LoadSettingsFrom(machineRoot, userRoot);
  EXPECT_STREQ("C:\\Games\\Quake2\\", gameDir);
  EXPECT_STREQ("u.exe", gameExe);
  EXPECT_EQ(0x32, startupMethod);
}

}  // namespace
