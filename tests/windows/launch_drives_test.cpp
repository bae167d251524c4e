// The search of drives C: to Z: and the launches after it, in a prefix whose only drives are C: and D:.
// Run through tests/windows/support/launch_drives.sh, which makes that prefix, maps D: to a scratch
// tree holding a link loop at D:\Loop, and names the stand-in game and the program in VARNET_STANDIN
// and VARNET_BROWSER.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "launch/launch_win.h"
#include "launch_program.h"
#include "launch_support.h"
#include "pump.h"
#include "table/table.h"

namespace {

const DWORD ONLY_C_AND_D = (1u << 2) | (1u << 3);

std::string Question(const std::string &exe, const std::string &dir) {
  return "Kestrel detected a '" + exe + "' in:\n    " + dir + "\nIs this the one you wish to use?";
}

std::string Trying(const std::string &exe, char drive) {
  return "Trying to find " + exe + " on " + std::string(1, drive) + ":\\...";
}

const char NO_GAME_TEXT[] =
    "Unable to find your Quake 2 executable!\n\nYou can't join a server until you have specified where Quake "
    "II "
    "is on your system.\n\nTry setting the executable name manually in the config if you have a different "
    "executable name.";

// Everything on D: except the link loop the wrapper made.
void ClearDriveD() {
  for (const std::string &name : ListLaunchNames("D:\\"))
    if (name != "." && name != ".." && name != "Loop") RemoveLaunchTree("D:\\" + name + "\\");
  DeleteFileA("D:\\quake2.exe");
  DeleteFileA("D:\\QUAKE2.EXE");
  DeleteFileA("D:\\fakegame.log");
  DeleteFileA("D:\\Loop\\quake2.exe");
}

class LaunchDrives : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(CreateLaunchWindows()); }

  void SetUp() override {
    ASSERT_EQ(ONLY_C_AND_D, GetLogicalDrives())
        << "run this test through tests/windows/support/launch_drives.sh";
    ResetLaunchWindows();
    ClearDriveD();
    RemoveLaunchTree("C:\\Games\\");
    ASSERT_TRUE(IsolateLaunchRegistry());
    gameDir[0] = 0;
    CopyText(gameExe, sizeof gameExe, "quake2.exe");
    startupMethod = 0;
    lstrcpynW(cachePath, L"C:\\varnet-test\\kestrel.cache", CACHE_PATH_SIZE);
    userCachePath[0] = 0;
    SetCurrentDirectoryA("C:\\varnet-test");
    SetCursor(LoadCursor(NULL, IDC_ARROW));
  }

  void TearDown() override {
    int code;
    TakeLaunchQuit(&code);
    RestoreLaunchRegistry();
    ClearDriveD();
    RemoveLaunchTree("C:\\Games\\");
  }

  void Put(const std::string &path) {
    ASSERT_TRUE(MakeLaunchDirs(path.substr(0, path.rfind('\\') + 1)));
    ASSERT_TRUE(WriteLaunchFile(path, "not the game"));
  }

  void PutGame(const std::string &dir) {
    ASSERT_TRUE(MakeLaunchDirs(dir));
    ASSERT_TRUE(InstallLaunchStandIn(dir, "quake2.exe"));
  }

  std::vector<LaunchBox> Search(const std::vector<int> &answers) {
    StartLaunchBoxWatcher(answers);
    SearchAllDrives();
    return StopLaunchBoxWatcher();
  }

  std::string CurrentDir() {
    char dir[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof dir, dir);
    return dir;
  }
};

TEST_F(LaunchDrives, FindsTheNameInAnyCaseAndYesSetsTheGameDirectory) {
  Put("D:\\Games\\Quake2\\QUAKE2.EXE");
  std::vector<LaunchBox> boxes = Search({IDYES});

  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Quake II Location", boxes[0].caption);
  EXPECT_EQ(Question("quake2.exe", "D:\\Games\\Quake2\\"), boxes[0].text);
  EXPECT_TRUE(boxes[0].yesNo);
  EXPECT_TRUE(boxes[0].questionIcon);
  EXPECT_EQ(hwndMain, boxes[0].owner);
  EXPECT_EQ(Trying("quake2.exe", 'D'), boxes[0].status);
  EXPECT_STREQ("D:\\Games\\Quake2\\", gameDir);
  // C: was walked first, then D:, each announced in part 0; nothing after the accepted drive.
  EXPECT_EQ((std::vector<std::string>{Trying("quake2.exe", 'C'), Trying("quake2.exe", 'D')}),
            LaunchStatusTexts());
  for (const LaunchStatusEntry &entry : launchStatusLog) EXPECT_EQ(0u, entry.wParam);
  EXPECT_EQ("C:\\varnet-test", CurrentDir());  // the start-up folder is current again, found or not
}

TEST_F(LaunchDrives, MatchInTheDriveRoot) {
  Put("D:\\quake2.exe");
  std::vector<LaunchBox> boxes = Search({IDYES});
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(Question("quake2.exe", "D:\\"), boxes[0].text);
  EXPECT_STREQ("D:\\", gameDir);
}

// The thread's error mode each time a window (the question box) is about to be activated.
std::vector<DWORD> modesAtQuestions;
LRESULT CALLBACK RecordErrorMode(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) modesAtQuestions.push_back(GetThreadErrorMode());
  return CallNextHookEx(NULL, code, wParam, lParam);
}

// An empty card reader made current must not bring up the system's "no disk" box, so the walk
// fails critical errors; the thread's own mode is back afterwards. Wine has no such drive: the
// mode is read while the search asks its question.
TEST_F(LaunchDrives, CriticalErrorsFailDuringTheSearchAndTheModeIsRestored) {
  Put("D:\\quake2.exe");
  DWORD previous = 0;
  ASSERT_TRUE(SetThreadErrorMode(SEM_NOOPENFILEERRORBOX, &previous));
  modesAtQuestions.clear();
  HHOOK hook = SetWindowsHookExA(WH_CBT, RecordErrorMode, NULL, GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  std::vector<LaunchBox> boxes = Search({IDYES});
  UnhookWindowsHookEx(hook);
  DWORD after = GetThreadErrorMode();
  SetThreadErrorMode(previous, NULL);
  ASSERT_EQ(1u, boxes.size());
  ASSERT_FALSE(modesAtQuestions.empty());
  EXPECT_EQ((DWORD)SEM_FAILCRITICALERRORS, modesAtQuestions[0]);
  EXPECT_EQ((DWORD)SEM_NOOPENFILEERRORBOX, after);
}

TEST_F(LaunchDrives, NoOffersTheNextCopyAndTheFirstYesEndsTheSearch) {
  Put("D:\\Games\\A\\quake2.exe");
  Put("D:\\Games\\B\\quake2.exe");
  Put("D:\\Games\\C\\quake2.exe");
  std::vector<std::string> order;
  for (const std::string &name : ListLaunchNames("D:\\Games\\"))
    if (name.size() == 1 && name[0] != '.') order.push_back("D:\\Games\\" + name + "\\");
  ASSERT_EQ(3u, order.size());

  std::vector<LaunchBox> boxes = Search({IDNO, IDYES});
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ(Question("quake2.exe", order[0]), boxes[0].text);
  EXPECT_EQ(Question("quake2.exe", order[1]), boxes[1].text);
  EXPECT_EQ(order[1], gameDir);
}

TEST_F(LaunchDrives, DrivesAreWalkedFromCOnwards) {
  Put("D:\\quake2.exe");
  Put("C:\\Games\\Q2\\quake2.exe");
  std::vector<LaunchBox> boxes = Search({});
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ(Question("quake2.exe", "C:\\Games\\Q2\\"), boxes[0].text);
  EXPECT_EQ(Trying("quake2.exe", 'C'), boxes[0].status);
  EXPECT_EQ(Question("quake2.exe", "D:\\"), boxes[1].text);
  EXPECT_EQ(Trying("quake2.exe", 'D'), boxes[1].status);
  EXPECT_EQ('\0', gameDir[0]);
}

TEST_F(LaunchDrives, NoToEveryQuestionLeavesNoGameDirectoryAndTheBrowserOpen) {
  Put("D:\\quake2.exe");
  Put("D:\\Games\\Quake2\\quake2.exe");
  int row = AddLaunchServerRow("10.0.0.5", 910);
  for (int round = 0; round < 2; round++) {  // the next double-click searches all over again
    SCOPED_TRACE(round);
    launchStatusLog.clear();
    std::vector<LaunchBox> boxes = DoubleClickAnswering(row, {});

    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ("Quake II Location", boxes[0].caption);
    EXPECT_EQ("Quake II Location", boxes[1].caption);
    EXPECT_EQ("Can't find Quake II", boxes[2].caption);
    EXPECT_EQ(NO_GAME_TEXT, boxes[2].text);
    EXPECT_EQ(hwndMain, boxes[2].owner);
    EXPECT_TRUE(boxes[2].okOnly);
    EXPECT_TRUE(boxes[2].warningIcon);
    EXPECT_EQ("Couldn't find a Quake II executable!", boxes[2].status);

    // The wait cursor covers the search and is back before the report.
    ASSERT_EQ(3u, launchStatusLog.size());
    EXPECT_EQ(Trying("quake2.exe", 'C'), launchStatusLog[0].text);
    EXPECT_EQ(Trying("quake2.exe", 'D'), launchStatusLog[1].text);
    EXPECT_EQ("Couldn't find a Quake II executable!", launchStatusLog[2].text);
    EXPECT_TRUE(launchStatusLog[0].waitCursor);
    EXPECT_TRUE(launchStatusLog[1].waitCursor);
    EXPECT_FALSE(launchStatusLog[2].waitCursor);
    EXPECT_EQ(LoadCursor(NULL, IDC_ARROW), GetCursor());

    EXPECT_EQ('\0', gameDir[0]);
    int code;
    EXPECT_FALSE(TakeLaunchQuit(&code));
    EXPECT_TRUE(IsWindow(hwndMain));
    EXPECT_EQ("C:\\varnet-test", CurrentDir());
  }
}

TEST_F(LaunchDrives, WaitCursorCoversTheSearchAndIsBackForTheReport) {
  SetCursor(LoadCursor(NULL, IDC_CROSS));
  int row = AddLaunchServerRow("10.0.0.5", 910);
  std::vector<LaunchBox> boxes =
      DoubleClickAnswering(row, {});  // nothing to find: no question changes the cursor
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Can't find Quake II", boxes[0].caption);
  ASSERT_EQ(3u, launchStatusLog.size());
  EXPECT_TRUE(launchStatusLog[0].waitCursor);
  EXPECT_TRUE(launchStatusLog[1].waitCursor);
  EXPECT_EQ("Couldn't find a Quake II executable!", launchStatusLog[2].text);
  EXPECT_EQ(LoadCursor(NULL, IDC_CROSS), launchStatusLog[2].cursor);
}

TEST_F(LaunchDrives, NameWithABackslashNeverMatches) {
  Put("D:\\Games\\Quake2\\quake2.exe");
  CopyText(gameExe, sizeof gameExe, "Games\\Quake2\\quake2.exe");
  EXPECT_TRUE(Search({IDYES}).empty());
  EXPECT_EQ('\0', gameDir[0]);
  EXPECT_EQ((std::vector<std::string>{Trying(gameExe, 'C'), Trying(gameExe, 'D')}), LaunchStatusTexts());
}

TEST_F(LaunchDrives, LinkLoopEnds) {
  std::vector<std::string> names = ListLaunchNames("D:\\Loop\\");
  ASSERT_NE(names.end(), std::find(names.begin(), names.end(), "Back")) << "the wrapper makes D:\\Loop\\Back";
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("D:\\Loop\\Back", &entry);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  FindClose(search);
  ASSERT_TRUE(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  bool reparse = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  Put("D:\\Loop\\quake2.exe");

  StartLaunchBoxWatcher({});
  char found[MAX_PATH] = "";
  EXPECT_FALSE(SearchGameDir("D:\\Loop\\", found, sizeof found));
  std::vector<LaunchBox> boxes = StopLaunchBoxWatcher();
  if (reparse) {
    // The link is reported as a reparse point, so it is never walked into.
    std::cout << "[ INFO ] the link is a reparse point: the walk does not enter it\n";
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(Question("quake2.exe", "D:\\Loop\\"), boxes[0].text);
  } else {
    // Without the attribute the walk goes round until the path limit ends it.
    std::cout << "[ INFO ] the link is a plain directory: the 260-character limit ends the walk\n";
    EXPECT_GT(boxes.size(), 1u);
    for (const LaunchBox &box : boxes) EXPECT_LE(box.text.size(), 511u);
  }
}

TEST_F(LaunchDrives, FoundGameStartsAndIsSavedSoTheNextRunDoesNotSearch) {
  PutGame("D:\\Games\\Quake2\\");
  int row = AddLaunchServerRow("10.0.0.5", 910);
  std::vector<LaunchBox> boxes = DoubleClickAnswering(row, {IDYES});
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(Question("quake2.exe", "D:\\Games\\Quake2\\"), boxes[0].text);
  EXPECT_EQ((std::vector<std::string>{Trying("quake2.exe", 'C'), Trying("quake2.exe", 'D'),
                                      "Starting Quake II..."}),
            LaunchStatusTexts());
  EXPECT_FALSE(launchStatusLog.back().waitCursor);
  int code = -1;
  EXPECT_TRUE(TakeLaunchQuit(&code));
  EXPECT_EQ(0, code);
  ASSERT_TRUE(WaitForLaunchGameStarts("D:\\Games\\Quake2\\", 1, 20000));
  LaunchGameStart start = ReadLaunchGameStarts("D:\\Games\\Quake2\\")[0];
  EXPECT_EQ("+set game \"varnet\" +connect \"10.0.0.5:910\" +exec autoexec.cfg", start.commandLine);
  EXPECT_EQ("D:\\Games\\Quake2", start.currentDir);
  EXPECT_EQ("D:\\Games\\Quake2\\quake2.exe", start.module);

  // The next run reads the saved directory and starts the game without a question.
  gameDir[0] = 0;
  LoadSettings();
  EXPECT_STREQ("D:\\Games\\Quake2\\", gameDir);
  launchStatusLog.clear();
  EXPECT_TRUE(DoubleClickAnswering(row, {}).empty());
  EXPECT_EQ(std::vector<std::string>{"Starting Quake II..."}, LaunchStatusTexts());
  EXPECT_TRUE(TakeLaunchQuit(&code));
  EXPECT_TRUE(WaitForLaunchGameStarts("D:\\Games\\Quake2\\", 2, 20000));
}

// The walk is wide: a folder named outside the ANSI code page is found, stored by a path the ANSI
// setting can hold, and the game starts there.
TEST_F(LaunchDrives, FolderNamedOutsideTheCodePageIsFoundStoredAndStarted) {
  const wchar_t *folder = L"D:\\Games\\\u041a\u0432\u0435\u0439\u043a\\";
  wchar_t shortWide[MAX_PATH], stored[MAX_PATH], longStored[MAX_PATH] = L"";
  char shortPath[MAX_PATH];
  ASSERT_TRUE(CreateDirectoryW(L"D:\\Games", NULL) && CreateDirectoryW(folder, NULL));
  GetShortPathNameW(folder, shortWide, MAX_PATH);
  WideCharToMultiByte(CP_ACP, 0, shortWide, -1, shortPath, MAX_PATH, NULL, NULL);
  ASSERT_TRUE(InstallLaunchStandIn(shortPath, "quake2.exe"));
  EXPECT_EQ(1u, DoubleClickAnswering(AddLaunchServerRow("10.0.0.5", 910), {IDYES}).size());
  MultiByteToWideChar(CP_ACP, 0, gameDir, -1, stored, MAX_PATH);
  GetLongPathNameW(stored, longStored, MAX_PATH);
  EXPECT_STREQ(folder, longStored) << gameDir;
  EXPECT_TRUE(WaitForLaunchGameStarts(gameDir, 1, 20000));
}

// Each start method as the stand-in game sees it, for one game directory.
void ExpectStartsFor(const std::string &dir, const std::string &workDir, const std::string &cwd, int row) {
  const std::string connect = "10.0.0.5:910";
  const std::string exePath = dir + "quake2.exe";
  const std::string third = "\"" + exePath + "\" +set game \"varnet\" +set basedir \"" + workDir +
                            "\" +connect \"" + connect + "\" +exec autoexec.cfg";
  struct Case {
    int32_t method;
    std::string commandLine;
  } cases[] = {
      {0, "+set game \"varnet\" +connect \"" + connect + "\" +exec autoexec.cfg"},
      {1, "+set game \"varnet\" +set basedir \"" + workDir + "\" +connect \"" + connect +
              "\" +exec autoexec.cfg"},
      {2, third},
      {5, third},
  };
  size_t count = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.method);
    startupMethod = c.method;
    EXPECT_TRUE(DoubleClickAnswering(row).empty());
    int code;
    EXPECT_TRUE(TakeLaunchQuit(&code));
    ASSERT_TRUE(WaitForLaunchGameStarts(dir, ++count, 20000));
    LaunchGameStart start = ReadLaunchGameStarts(dir).back();
    EXPECT_EQ(c.commandLine, start.commandLine);
    EXPECT_EQ(cwd, start.currentDir);
    EXPECT_EQ(exePath, start.module);
  }
}

TEST_F(LaunchDrives, CommandLinesForEachStartMethod) {
  PutGame("C:\\Games\\Quake2\\");
  CopyText(gameDir, sizeof gameDir, "C:\\Games\\Quake2\\");
  int row = AddLaunchServerRow("10.0.0.5", 910);
  ExpectStartsFor("C:\\Games\\Quake2\\", "C:\\Games\\Quake2", "C:\\Games\\Quake2", row);
}

TEST_F(LaunchDrives, CommandLinesForAGameInADriveRoot) {
  PutGame("D:\\");
  ASSERT_TRUE(MakeLaunchDirs("D:\\Sub\\"));
  CopyText(gameDir, sizeof gameDir, "D:\\");
  int row = AddLaunchServerRow("10.0.0.5", 910);
  // "D:" is the drive's current directory: the game starts wherever the browser left drive D:.
  for (const char *current : {"D:\\", "D:\\Sub", "C:\\varnet-test"}) {
    SCOPED_TRACE(current);
    ASSERT_TRUE(SetCurrentDirectoryA(current));
    char resolved[MAX_PATH] = "";
    DWORD length = GetFullPathNameA("D:", sizeof resolved, resolved, NULL);
    ASSERT_TRUE(length > 0 && length < sizeof resolved);
    std::string cwd = resolved;
    if (cwd.size() > 3 && cwd.back() == '\\') cwd.pop_back();  // Wine adds one; a current directory has none
    DeleteFileA("D:\\fakegame.log");
    ExpectStartsFor("D:\\", "D:", cwd, row);
  }
}

// The real program in its own process: the first double-click searches, the second does not.
class LaunchProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ONLY_C_AND_D, GetLogicalDrives())
        << "run this test through tests/windows/support/launch_drives.sh";
    ClearDriveD();
    DeleteSettingsKeys();
    runDir = "C:\\varnet-test\\run\\";
    RemoveLaunchTree(runDir);
    ASSERT_TRUE(MakeLaunchDirs(runDir));
    ASSERT_TRUE(StartLaunchStatusServer(&port, 120000));
    ASSERT_TRUE(WriteLaunchCache(runDir + "kestrel.cache", "127.0.0.1", port));
  }

  void TearDown() override {
    StopLaunchStatusServer();
    DeleteSettingsKeys();
    ClearDriveD();
    RemoveLaunchTree(runDir);
  }

  void DeleteSettingsKeys() {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, KEY_WOW64_32KEY, 0);
    RegDeleteKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, KEY_WOW64_32KEY, 0);
  }

  std::string SavedGameDir() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
      return "<no key>";
    char text[MAX_PATH] = "";
    DWORD size = sizeof text - 1;
    LONG result = RegQueryValueExA(key, "Q2Dir", NULL, NULL, (BYTE *)text, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? text : "<no value>";
  }

  // Starts the program, waits for its row and double-clicks it; answers the questions with Yes.
  // Gives back the questions' texts; the program has ended (exit code checked) when it returns.
  std::vector<std::string> RunAndDoubleClick() {
    PROCESS_INFORMATION process = {};
    std::vector<std::string> questions;
    EXPECT_TRUE(StartLaunchBrowser(runDir, &process));
    if (process.hProcess == NULL) return questions;
    HWND list = WaitForLaunchBrowserRow(process.dwProcessId, 30000);
    EXPECT_NE(nullptr, list) << "the program showed no row for the server";
    if (list != NULL) {
      EXPECT_TRUE(DoubleClickLaunchFirstRow(list));
    }
    DWORD exitCode = 259;
    bool ended = PumpUntil(
        [&] {
          HWND box = FindLaunchProcessBox(process.dwProcessId, "Quake II Location");
          if (box != NULL) {
            questions.push_back(LaunchBoxText(box));
            PressLaunchBoxButton(box, IDYES);
            PumpUntil([&] { return !IsWindow(box); }, 5000);
          }
          return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        },
        60000);
    EXPECT_TRUE(ended) << "the program did not end after the double-click";
    if (!ended) TerminateProcess(process.hProcess, 1);  // the test's own child, by its handle
    EXPECT_TRUE(WaitForLaunchExit(process.hProcess, 5000, &exitCode));
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return questions;
  }

  std::string runDir;
  uint16_t port = 0;
};

TEST_F(LaunchProgram, DoubleClickSearchesStartsTheGameAndTheNextRunGoesStraightThere) {
  ASSERT_TRUE(MakeLaunchDirs("D:\\Games\\Quake2\\"));
  ASSERT_TRUE(InstallLaunchStandIn("D:\\Games\\Quake2\\", "quake2.exe"));
  const std::string expected =
      "+set game \"varnet\" +connect \"127.0.0.1:" + std::to_string(port) + "\" +exec autoexec.cfg";

  std::vector<std::string> questions = RunAndDoubleClick();
  EXPECT_EQ(std::vector<std::string>{Question("quake2.exe", "D:\\Games\\Quake2\\")}, questions);
  ASSERT_TRUE(WaitForLaunchGameStarts("D:\\Games\\Quake2\\", 1, 20000));
  LaunchGameStart start = ReadLaunchGameStarts("D:\\Games\\Quake2\\")[0];
  EXPECT_EQ(expected, start.commandLine);
  EXPECT_EQ("D:\\Games\\Quake2", start.currentDir);
  EXPECT_EQ("D:\\Games\\Quake2\\", SavedGameDir());

  EXPECT_TRUE(RunAndDoubleClick().empty());
  ASSERT_TRUE(WaitForLaunchGameStarts("D:\\Games\\Quake2\\", 2, 20000));
  EXPECT_EQ(expected, ReadLaunchGameStarts("D:\\Games\\Quake2\\")[1].commandLine);
}

}  // namespace
