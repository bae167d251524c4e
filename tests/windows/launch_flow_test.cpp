// The double-click on a server row with a configured game directory: start, save and quit, or report and
// stay.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "launch/launch_win.h"
#include "launch_support.h"
#include "table/table.h"

namespace {

class LaunchFlow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(CreateLaunchWindows()); }

  void SetUp() override {
    ResetLaunchWindows();
    dir = MakeLaunchTempDir("launch-flow");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(IsolateLaunchRegistry());
    CopyText(gameDir, sizeof gameDir, dir.c_str());
    CopyText(gameExe, sizeof gameExe, "quake2.exe");
    startupMethod = 0;
    cacheFile = dir + "browser.cache";
    MultiByteToWideChar(CP_ACP, 0, cacheFile.c_str(), -1, cachePath, CACHE_PATH_SIZE);
    userCachePath[0] = 0;
    SetCursor(LoadCursor(NULL, IDC_CROSS));
  }

  void TearDown() override {
    int code;
    TakeLaunchQuit(&code);
    RestoreLaunchRegistry();
    RemoveLaunchTree(dir);
  }

  // What the registry would give the next run: the game directory it would start with.
  std::string SavedGameDir() {
    char kept[SETTING_TEXT_SIZE];
    CopyText(kept, sizeof kept, gameDir);
    gameDir[0] = 0;
    LoadSettings();
    std::string saved = gameDir;
    CopyText(gameDir, sizeof gameDir, kept);
    return saved;
  }

  std::string WorkDir() { return dir.substr(0, dir.size() - 1); }

  std::string dir;
  std::string cacheFile;
};

TEST_F(LaunchFlow, StartsTheGameThenSavesAndQuits) {
  ASSERT_TRUE(InstallLaunchStandIn(dir, "quake2.exe"));
  int row = AddLaunchServerRow("10.0.0.5", 910);
  std::vector<LaunchBox> boxes = DoubleClickAnswering(row);

  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(std::vector<std::string>{"Starting Quake II..."}, LaunchStatusTexts());
  EXPECT_EQ(0u, launchStatusLog[0].wParam);                           // part 0, drawing type 0
  EXPECT_EQ(LoadCursor(NULL, IDC_CROSS), launchStatusLog[0].cursor);  // restored before this text
  EXPECT_EQ(LoadCursor(NULL, IDC_CROSS), GetCursor());
  int code = -1;
  EXPECT_TRUE(TakeLaunchQuit(&code));
  EXPECT_EQ(0, code);

  ASSERT_TRUE(WaitForLaunchGameStarts(dir, 1, 20000));
  LaunchGameStart start = ReadLaunchGameStarts(dir)[0];
  EXPECT_EQ("+set game \"varnet\" +connect \"10.0.0.5:910\" +exec autoexec.cfg", start.commandLine);
  EXPECT_EQ(WorkDir(), start.currentDir);
  EXPECT_EQ(dir + "quake2.exe", start.module);

  // Saved on the way out: the settings and the cache file.
  EXPECT_EQ(dir, SavedGameDir());
  EXPECT_TRUE(LaunchPathExists(cacheFile));
}

TEST_F(LaunchFlow, HostNameServerWithTheQuotedPathForm) {
  ASSERT_TRUE(InstallLaunchStandIn(dir, "quake2.exe"));
  AddLaunchServerRow("10.0.0.1", 27910);
  int row = AddLaunchServerRow("q2.example.net", 27911);
  startupMethod = 2;
  EXPECT_TRUE(DoubleClickAnswering(row).empty());
  int code = -1;
  EXPECT_TRUE(TakeLaunchQuit(&code));

  ASSERT_TRUE(WaitForLaunchGameStarts(dir, 1, 20000));
  LaunchGameStart start = ReadLaunchGameStarts(dir)[0];
  EXPECT_EQ("\"" + dir + "quake2.exe\" +set game \"varnet\" +set basedir \"" + WorkDir() +
                "\" +connect \"q2.example.net:27911\" +exec autoexec.cfg",
            start.commandLine);
  EXPECT_EQ(WorkDir(), start.currentDir);
  EXPECT_EQ(dir + "quake2.exe", start.module);
}

TEST_F(LaunchFlow, MissingExecutableIsReportedAndTheBrowserStays) {
  int row = AddLaunchServerRow("10.0.0.5", 910);
  std::vector<LaunchBox> boxes = DoubleClickAnswering(row);

  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Couldn't find Quake II", boxes[0].caption);
  EXPECT_EQ("Error: Couldn't find a Quake II executable:\n    " + dir + "quake2.exe: File Not Found",
            boxes[0].text);
  EXPECT_EQ(hwndMain, boxes[0].owner);
  EXPECT_TRUE(boxes[0].okOnly);
  EXPECT_TRUE(boxes[0].warningIcon);
  EXPECT_EQ("Couldn't find Quake II executable! Check your config.", boxes[0].status);
  EXPECT_EQ((std::vector<std::string>{"Starting Quake II...",
                                      "Couldn't find Quake II executable! Check your config."}),
            LaunchStatusTexts());
  int code;
  EXPECT_FALSE(TakeLaunchQuit(&code));
  EXPECT_TRUE(IsWindow(hwndMain));
  EXPECT_EQ(dir, gameDir);
  EXPECT_EQ("", SavedGameDir());
  EXPECT_FALSE(LaunchPathExists(cacheFile));

  // The next double-click tests the same place again, without a search, and finds it now.
  ASSERT_TRUE(InstallLaunchStandIn(dir, "quake2.exe"));
  launchStatusLog.clear();
  EXPECT_TRUE(DoubleClickAnswering(row).empty());
  EXPECT_EQ(std::vector<std::string>{"Starting Quake II..."}, LaunchStatusTexts());
  EXPECT_TRUE(TakeLaunchQuit(&code));
  EXPECT_TRUE(WaitForLaunchGameStarts(dir, 1, 20000));
}

// The system's text for the error that starting this file gives, its %1 naming the file.
std::string SystemErrorText(const std::string &path) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = "\"" + path + "\"";
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back(0);
  if (CreateProcessA(path.c_str(), commandLine.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return "<it started>";
  }
  DWORD error = GetLastError();
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text,
                 sizeof text, NULL);
  std::string message = text;
  while (!message.empty() && strchr("\r\n ", message.back()) != NULL) message.pop_back();
  size_t insert = message.find("%1");
  if (insert != std::string::npos) message.replace(insert, 2, path);
  return message;
}

TEST_F(LaunchFlow, FileThatIsNoProgramIsReportedAndTheBrowserStays) {
  std::string exePath = dir + "quake2.exe";
  ASSERT_TRUE(WriteLaunchFile(exePath, "This is not a program.\r\n"));
  std::string reason = SystemErrorText(exePath);
  ASSERT_NE("<it started>", reason);
  ASSERT_FALSE(reason.empty());
  int row = AddLaunchServerRow("10.0.0.5", 910);
  std::vector<LaunchBox> boxes = DoubleClickAnswering(row);

  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Couldn't start Quake II", boxes[0].caption);
  EXPECT_NE(std::string::npos, boxes[0].text.find("\n    " + exePath + "\n")) << boxes[0].text;
  EXPECT_NE(std::string::npos, boxes[0].text.find(reason)) << boxes[0].text << " / " << reason;
  EXPECT_EQ(hwndMain, boxes[0].owner);
  EXPECT_TRUE(boxes[0].okOnly);
  EXPECT_TRUE(boxes[0].warningIcon);
  EXPECT_EQ("Couldn't start Quake II! Check your config.", boxes[0].status);
  EXPECT_EQ((std::vector<std::string>{"Starting Quake II...", "Couldn't start Quake II! Check your config."}),
            LaunchStatusTexts());

  // The browser stays open and has saved nothing.
  int code;
  EXPECT_FALSE(TakeLaunchQuit(&code));
  EXPECT_TRUE(IsWindow(hwndMain));
  EXPECT_EQ("", SavedGameDir());
  EXPECT_FALSE(LaunchPathExists(cacheFile));
  EXPECT_EQ(dir, gameDir);
}

TEST_F(LaunchFlow, AddressOverItsLimitIsABadAddress) {
  ASSERT_TRUE(InstallLaunchStandIn(dir, "quake2.exe"));
  std::string host(124, 'h');  // with ":910" the connect address needs 128 characters and a terminator
  int row = AddLaunchServerRow(host.c_str(), 910);
  std::vector<LaunchBox> boxes = DoubleClickAnswering(row);

  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Couldn't start Quake II", boxes[0].caption);
  EXPECT_EQ(0u, boxes[0].text.find("Error: Bad server address:\n    " + host + "\n")) << boxes[0].text;
  EXPECT_EQ("Couldn't start Quake II! Bad server address.", LaunchStatusText(0));
  int code;
  EXPECT_FALSE(TakeLaunchQuit(&code));
  Sleep(1000);
  EXPECT_TRUE(ReadLaunchGameStarts(dir).empty());

  // One character less fits: the same server then starts the game.
  records[0].address[123] = 0;
  EXPECT_TRUE(DoubleClickAnswering(row).empty());
  EXPECT_TRUE(TakeLaunchQuit(&code));
  ASSERT_TRUE(WaitForLaunchGameStarts(dir, 1, 20000));
  EXPECT_EQ("+set game \"varnet\" +connect \"" + std::string(123, 'h') + ":910\" +exec autoexec.cfg",
            ReadLaunchGameStarts(dir)[0].commandLine);
}

// The folder is there with the game in it, but its '+' can't go on the command line. U+8868 in
// code page 932, U+9186 in 936 and 950, end in the byte 0x5C, which is no backslash: that folder
// starts the game (under other code pages it is stored by its short path).
TEST_F(LaunchFlow, FolderWithAPlusIsRefusedByNameAndOneEndingIn0x5CStarts) {
  CopyText(gameDir, sizeof gameDir, (dir + "Q2+ctf\\").c_str());
  startupMethod = 1;
  ASSERT_TRUE(MakeLaunchDirs(gameDir) && InstallLaunchStandIn(gameDir, "quake2.exe"));
  int row = AddLaunchServerRow("10.0.0.5", 910);
  std::vector<LaunchBox> boxes = DoubleClickAnswering(row);
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Couldn't start Quake II", boxes[0].caption);
  EXPECT_EQ(0u, boxes[0].text.find("Error: The Quake II Directory setting can't be put on the game's command "
                                   "line:\n    " +
                                   dir + "Q2+ctf\\\n\nIt holds a '+'"))
      << boxes[0].text;
  EXPECT_EQ("Couldn't start Quake II! Check your config.", LaunchStatusText(0));

  std::wstring folder = std::wstring(dir.begin(), dir.end()) + (GetACP() == 932 ? L"\u8868\\" : L"\u9186\\");
  ReadAnsiLeadBytes();
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL) && AnsiPathOf(folder.c_str(), gameDir, sizeof gameDir));
  EndWithBackslash(gameDir, sizeof gameDir);
  std::string stored = gameDir;
  ASSERT_TRUE(InstallLaunchStandIn(stored, "quake2.exe"));
  EXPECT_TRUE(DoubleClickAnswering(row).empty());
  ASSERT_TRUE(WaitForLaunchGameStarts(stored, 1, 20000));
  EXPECT_NE(std::string::npos, ReadLaunchGameStarts(stored)[0].commandLine.find(
                                   "+set basedir \"" + stored.substr(0, stored.size() - 1) + "\" "));
}

TEST_F(LaunchFlow, DoubleClickOffTheRowsStartsNothing) {
  ASSERT_TRUE(InstallLaunchStandIn(dir, "quake2.exe"));
  AddLaunchServerRow("10.0.0.5", 910);
  for (int row : {-1, 1, 7}) {
    SCOPED_TRACE(row);
    EXPECT_TRUE(DoubleClickAnswering(row).empty());
    EXPECT_TRUE(launchStatusLog.empty());
    EXPECT_EQ(LoadCursor(NULL, IDC_CROSS), GetCursor());
    int code;
    EXPECT_FALSE(TakeLaunchQuit(&code));
  }
  Sleep(500);
  EXPECT_TRUE(ReadLaunchGameStarts(dir).empty());
}

}  // namespace
