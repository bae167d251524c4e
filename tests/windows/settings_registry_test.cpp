// Registry settings under Wine's real registry: values, sizes, bad data and the per-user fallback.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "master/master_win.h"
#include "settings_registry.h"

namespace {

const char DIR_VALUE[] = "Q2Dir";
const char EXE_VALUE[] = "q2Exe";
const char METHOD_VALUE[] = "Alt. Startup Method";
const char MASTER_VALUE[] = "MasterURL";
const std::string BUILT_IN_MASTER = masterUrl;  // before any case can load a value

void ClearSettings() {
  memset(gameDir, 0, sizeof gameDir);
  memset(gameExe, 0, sizeof gameExe);
  startupMethod = 0;
}

void SetSettings(const char *dir, const char *exe, int32_t method) {
  ClearSettings();
  CopyText(gameDir, sizeof gameDir, dir);
  CopyText(gameExe, sizeof gameExe, exe);
  startupMethod = method;
}

std::string Text(const char *text) { return std::string(text, strlen(text) + 1); }
std::string Number(DWORD number) { return std::string((const char *)&number, sizeof number); }

// Expects the stored value to be exactly this type and these bytes.
void ExpectValue(HKEY root, const char *name, DWORD type, const std::string &bytes) {
  SCOPED_TRACE(name);
  DWORD storedType = 0;
  std::string stored;
  ASSERT_TRUE(GetSettingsValue(root, name, &storedType, &stored));
  EXPECT_EQ(type, storedType);
  EXPECT_EQ(bytes, stored);
}

void ExpectSaved(HKEY root, const char *dir, const char *exe, DWORD method) {
  ExpectValue(root, DIR_VALUE, REG_SZ, Text(dir));
  ExpectValue(root, EXE_VALUE, REG_SZ, Text(exe));
  ExpectValue(root, METHOD_VALUE, REG_DWORD, Number(method));
}

void ExpectSettings(const char *dir, const char *exe, int32_t method) {
  EXPECT_STREQ(dir, gameDir);
  EXPECT_STREQ(exe, gameExe);
  EXPECT_EQ(method, startupMethod);
}

// The program's own key under the real roots, removed before and after each case.
class MachineSettings : public testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    // A key left in the 64-bit view by a faulty build would fool the view check.
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, KEY_WOW64_64KEY, 0);
    DeleteSettingsKey(HKEY_LOCAL_MACHINE);
    DeleteSettingsKey(HKEY_CURRENT_USER);
    ClearSettings();
  }
};

TEST_F(MachineSettings, NoKeyLeavesTheClearedDefaults) {
  LoadSettings();
  ExpectSettings("", "", 0);  // start-up then puts the default name into the empty gameExe
  EXPECT_FALSE(SettingsKeyExists(HKEY_LOCAL_MACHINE));  // loading never creates the key
}

TEST_F(MachineSettings, SaveWritesTheThreeValuesWithTerminators) {
  SetSettings("C:\\Games\\Quake2\\", "quake2.exe", 1);
  SaveSettingsTo(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(GetSettingsValue(HKEY_LOCAL_MACHINE, DIR_VALUE, &type, &bytes));
  EXPECT_EQ(17u, bytes.size());  // 16 characters and the terminator
  ExpectSaved(HKEY_LOCAL_MACHINE, "C:\\Games\\Quake2\\", "quake2.exe", 1);
  // The machine key could be written, so no per-user copy appears.
  EXPECT_FALSE(SettingsKeyExists(HKEY_CURRENT_USER));
}

TEST_F(MachineSettings, KeyLivesInThe32BitView) {
  SetSettings("C:\\Q2\\", "q2.exe", 2);
  SaveSettingsTo(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  const char redirected[] = "SOFTWARE\\Wow6432Node\\tallow\\Varnet Server Browser";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, redirected, 0, KEY_READ | KEY_WOW64_64KEY, &key));
  RegCloseKey(key);
  EXPECT_NE(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_READ | KEY_WOW64_64KEY, &key));
}

TEST_F(MachineSettings, ValuesLoadAsStoredAndSaveBackUnchanged) {
  ASSERT_TRUE(PutSettingsText(HKEY_LOCAL_MACHINE, DIR_VALUE, "C:\\Games\\Quake2\\"));
  ASSERT_TRUE(PutSettingsText(HKEY_LOCAL_MACHINE, EXE_VALUE, "q2.exe"));
  ASSERT_TRUE(PutSettingsNumber(HKEY_LOCAL_MACHINE, METHOD_VALUE, 7));  // not one of 0, 1, 2
  LoadSettings();
  ExpectSettings("C:\\Games\\Quake2\\", "q2.exe", 7);
  DeleteSettingsKey(HKEY_LOCAL_MACHINE);
  SaveSettingsTo(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  ExpectSaved(HKEY_LOCAL_MACHINE, "C:\\Games\\Quake2\\", "q2.exe", 7);
}

TEST_F(MachineSettings, EmptyExecutableLoadsEmptyAndSavesAsOneByte) {
  ASSERT_TRUE(PutSettingsText(HKEY_LOCAL_MACHINE, EXE_VALUE, ""));
  LoadSettings();
  ExpectSettings("", "", 0);
  SaveSettingsTo(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  ExpectSaved(HKEY_LOCAL_MACHINE, "", "", 0);
}

TEST_F(MachineSettings, MissingValuesKeepTheirDefaults) {
  ASSERT_TRUE(PutSettingsText(HKEY_LOCAL_MACHINE, EXE_VALUE, "other.exe"));
  LoadSettings();
  ExpectSettings("", "other.exe", 0);
}

struct BadValue {
  const char *what;
  DWORD type;
  std::string bytes;
  const char *expected;  // what gameDir holds after the load; it held "before\" until then
};

// A string setting always ends terminated within its 260 bytes: a text of up to 259
// characters is taken (terminated after its bytes), a longer one is ignored.
TEST_F(MachineSettings, BadDirectoryValuesEndTerminatedOrIgnored) {
  std::string longest(259, 'd');
  const BadValue cases[] = {
      {"259 characters and terminator", REG_SZ, longest + '\0', longest.c_str()},
      {"259 characters, no terminator", REG_SZ, longest, longest.c_str()},
      {"260 characters, no terminator", REG_SZ, std::string(260, 'e'), "before\\"},
      {"260 characters and terminator", REG_SZ, std::string(260, 'f') + '\0', "before\\"},
      {"600 characters", REG_SZ, std::string(599, 'g') + '\0', "before\\"},
      // Wine's RegSetValueExA terminates REG_SZ data itself; binary data stays as given.
      {"259 bytes binary, no terminator", REG_BINARY, longest, longest.c_str()},
      {"260 bytes binary, no terminator", REG_BINARY, std::string(260, 'h'), "before\\"},
      {"short, no terminator", REG_SZ, "C:\\Q2\\", "C:\\Q2\\"},
      {"binary type", REG_BINARY, "bin\\", "bin\\"},
      {"number type", REG_DWORD, Number(0x00636261), "abc"},
      {"multi-string type", REG_MULTI_SZ, std::string("one\0two\0\0", 9), "one"},
      {"empty binary", REG_BINARY, "", ""},
  };
  for (const BadValue &c : cases) {
    SCOPED_TRACE(c.what);
    DeleteSettingsKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(
        PutSettingsValue(HKEY_LOCAL_MACHINE, DIR_VALUE, c.type, c.bytes.data(), (DWORD)c.bytes.size()));
    memset(gameDir, 'X', sizeof gameDir);  // anything left unterminated would show
    CopyText(gameDir, sizeof gameDir, "before\\");
    memset(gameDir + 8, 'X', sizeof gameDir - 8);
    LoadSettings();
    ASSERT_NE(nullptr, memchr(gameDir, 0, sizeof gameDir));
    EXPECT_STREQ(c.expected, gameDir);
  }
}

TEST_F(MachineSettings, ExecutableValueOfAnyTypeEndsTerminated) {
  ASSERT_TRUE(PutSettingsValue(HKEY_LOCAL_MACHINE, EXE_VALUE, REG_BINARY, "q2.exe", 6));
  memset(gameExe, 'X', sizeof gameExe);
  LoadSettings();
  EXPECT_STREQ("q2.exe", gameExe);
}

// The number is read without looking at its type; one that doesn't fit 4 bytes is ignored.
TEST_F(MachineSettings, MethodBytesAreTakenAsTheyCome) {
  struct {
    const char *what;
    DWORD type;
    std::string bytes;
    int32_t expected;  // it held 1 before the load
  } cases[] = {
      {"dword 2", REG_DWORD, Number(2), 2},
      {"dword -1", REG_DWORD, Number(0xFFFFFFFFu), -1},
      {"text \"2\"", REG_SZ, std::string("2\0", 2), 0x0032},
      {"binary of 5 bytes", REG_BINARY, std::string("\x02\0\0\0\0", 5), 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    DeleteSettingsKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(
        PutSettingsValue(HKEY_LOCAL_MACHINE, METHOD_VALUE, c.type, c.bytes.data(), (DWORD)c.bytes.size()));
    startupMethod = 1;
    LoadSettings();
    EXPECT_EQ(c.expected, startupMethod);
  }
}

// Stand-in roots let the machine key be unwritable, the way a standard user sees HKLM.
class SettingsFallback : public testing::Test {
 protected:
  void SetUp() override {
    DeleteTestRoots();
    machineRoot = OpenTestRoot("machine");
    userRoot = OpenTestRoot("user");
    ASSERT_NE(nullptr, machineRoot);
    ASSERT_NE(nullptr, userRoot);
    ClearSettings();
  }
  void TearDown() override {
    RegCloseKey(machineRoot);
    RegCloseKey(userRoot);
    DeleteTestRoots();
    ClearSettings();
  }
  HKEY machineRoot = NULL;
  HKEY userRoot = NULL;
};

TEST_F(SettingsFallback, LockedMachineKeyFallsBackToTheUserKey) {
  ASSERT_TRUE(PutSettingsText(machineRoot, DIR_VALUE, "C:\\Old\\"));
  ASSERT_TRUE(LockSettingsKey(machineRoot));
  HKEY probe;  // the lock holds: the key can't be opened for writing
  ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExA(machineRoot, SETTINGS_KEY, 0, KEY_WRITE | KEY_WOW64_32KEY, &probe));

  SetSettings("D:\\Found\\", "quake2.exe", 2);
  SaveSettingsTo(machineRoot, userRoot);
  ExpectSaved(userRoot, "D:\\Found\\", "quake2.exe", 2);
  ExpectValue(machineRoot, DIR_VALUE, REG_SZ, Text("C:\\Old\\"));  // untouched

  ClearSettings();
  LoadSettingsFrom(machineRoot, userRoot);
  ExpectSettings("D:\\Found\\", "quake2.exe", 2);
}

TEST_F(SettingsFallback, MachineKeyThatCannotBeCreatedFallsBackToTheUserKey) {
  HKEY missingRoot = (HKEY)(ULONG_PTR)0x7FFFFFF0;  // no such handle: nothing can be created
  SetSettings("C:\\Games\\Quake2\\", "q2.exe", 1);
  SaveSettingsTo(missingRoot, userRoot);
  ExpectSaved(userRoot, "C:\\Games\\Quake2\\", "q2.exe", 1);
  ClearSettings();
  LoadSettingsFrom(missingRoot, userRoot);
  ExpectSettings("C:\\Games\\Quake2\\", "q2.exe", 1);
}

TEST_F(SettingsFallback, WritableMachineKeyAlsoUpdatesAnExistingUserKey) {
  ASSERT_TRUE(PutSettingsText(userRoot, DIR_VALUE, "C:\\Stale\\"));
  ASSERT_TRUE(PutSettingsText(userRoot, EXE_VALUE, "stale.exe"));
  ASSERT_TRUE(PutSettingsNumber(userRoot, METHOD_VALUE, 2));
  SetSettings("C:\\New\\", "new.exe", 0);
  SaveSettingsTo(machineRoot, userRoot);
  ExpectSaved(machineRoot, "C:\\New\\", "new.exe", 0);
  ExpectSaved(userRoot, "C:\\New\\", "new.exe", 0);  // no stale value wins at the next load
  ClearSettings();
  LoadSettingsFrom(machineRoot, userRoot);
  ExpectSettings("C:\\New\\", "new.exe", 0);
}

TEST_F(SettingsFallback, WritableMachineKeyCreatesNoUserKey) {
  SetSettings("C:\\New\\", "new.exe", 1);
  SaveSettingsTo(machineRoot, userRoot);
  ExpectSaved(machineRoot, "C:\\New\\", "new.exe", 1);
  EXPECT_FALSE(SettingsKeyExists(userRoot));
}

TEST_F(SettingsFallback, UserValuesOverMachineValuesOneByOne) {
  ASSERT_TRUE(PutSettingsText(machineRoot, DIR_VALUE, "C:\\Machine\\"));
  ASSERT_TRUE(PutSettingsText(machineRoot, EXE_VALUE, "machine.exe"));
  ASSERT_TRUE(PutSettingsNumber(machineRoot, METHOD_VALUE, 1));
  ASSERT_TRUE(PutSettingsText(userRoot, EXE_VALUE, "user.exe"));
  LoadSettingsFrom(machineRoot, userRoot);
  ExpectSettings("C:\\Machine\\", "user.exe", 1);
}

TEST_F(SettingsFallback, NeitherKeyWritableSavesNothingAndLoadsDefaults) {
  HKEY missingRoot = (HKEY)(ULONG_PTR)0x7FFFFFF0;
  SetSettings("C:\\Lost\\", "lost.exe", 1);
  SaveSettingsTo(missingRoot, missingRoot);
  ClearSettings();
  LoadSettingsFrom(missingRoot, missingRoot);
  ExpectSettings("", "", 0);
}

struct MasterUrlCase {
  const char *what;
  DWORD type;
  std::string bytes;
  bool used;  // else the built-in address stays
};

// Only an http:// or https:// address of at most 1023 characters, stored as REG_SZ, is used.
TEST_F(SettingsFallback, MasterUrlReplacesTheBuiltInAddressOnlyWhenUsable) {
  std::string longest = "http://" + std::string(1016, 'a');  // 1023 characters
  const MasterUrlCase cases[] = {
      {"http", REG_SZ, Text("http://127.0.0.1:27911/mirror/servers.txt"), true},
      {"https in mixed case", REG_SZ, Text("HtTpS://example.org/servers.txt"), true},
      {"1023 characters", REG_SZ, Text(longest.c_str()), true},
      {"stored without its terminator", REG_SZ, std::string("http://example.org/servers.txt"), true},
      {"1024 characters", REG_SZ, Text((longest + "a").c_str()), false},
      {"1024 characters without a terminator", REG_SZ, longest + "a", false},
      {"empty", REG_SZ, Text(""), false},
      {"another scheme", REG_SZ, Text("ftp://example.org/servers.txt"), false},
      {"no scheme", REG_SZ, Text("example.org/servers.txt"), false},
      {"scheme cut short", REG_SZ, Text("http:/example.org/servers.txt"), false},
      {"NUL inside", REG_SZ, std::string("http://a\0b/servers.txt", 22), false},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, Text("http://example.org/servers.txt"), false},
      {"REG_BINARY", REG_BINARY, Text("http://example.org/servers.txt"), false},
  };
  for (const MasterUrlCase &c : cases) {
    SCOPED_TRACE(c.what);
    CopyText(masterUrl, sizeof masterUrl, BUILT_IN_MASTER.c_str());
    ASSERT_TRUE(PutSettingsValue(userRoot, MASTER_VALUE, c.type, c.bytes.data(), (DWORD)c.bytes.size()));
    LoadSettingsFrom(machineRoot, userRoot);
    EXPECT_EQ(c.used ? std::string(c.bytes.c_str()) : BUILT_IN_MASTER, std::string(masterUrl));
  }
  CopyText(masterUrl, sizeof masterUrl, BUILT_IN_MASTER.c_str());
}

// The per-user value over the machine's, a bad one as if it were not there; the save writes
// neither and leaves both as they were set.
TEST_F(SettingsFallback, MasterUrlPerUserOverMachineAndNeverSaved) {
  ASSERT_TRUE(PutSettingsText(machineRoot, MASTER_VALUE, "http://machine.example/servers.txt"));
  ASSERT_TRUE(PutSettingsText(userRoot, MASTER_VALUE, "http://user.example/servers.txt"));
  LoadSettingsFrom(machineRoot, userRoot);
  EXPECT_STREQ("http://user.example/servers.txt", masterUrl);

  CopyText(masterUrl, sizeof masterUrl, BUILT_IN_MASTER.c_str());
  ASSERT_TRUE(PutSettingsText(userRoot, MASTER_VALUE, "gopher://user.example/"));
  LoadSettingsFrom(machineRoot, userRoot);
  EXPECT_STREQ("http://machine.example/servers.txt", masterUrl);

  SetSettings("C:\\Games\\", "quake2.exe", 0);
  SaveSettingsTo(machineRoot, userRoot);
  ExpectValue(machineRoot, MASTER_VALUE, REG_SZ, Text("http://machine.example/servers.txt"));
  ExpectValue(userRoot, MASTER_VALUE, REG_SZ, Text("gopher://user.example/"));
  CopyText(masterUrl, sizeof masterUrl, BUILT_IN_MASTER.c_str());
}

}  // namespace
