// Launch and search tests: a window with real controls, a message-box answerer, the stand-in game, file
// trees. Every name carries "Launch" so nothing clashes with the other areas' helpers in the same library.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <stdint.h>

#include <string>
#include <vector>

// ---- Test window: hwndMain, hwndServerList and a 3-part hwndStatusBar, made once per process.
bool CreateLaunchWindows(void);
// Empties the rows, the table, the status texts and their log.
void ResetLaunchWindows(void);
// Appends a record and a row whose item data is the record's index; returns the row.
int AddLaunchServerRow(const char *address, uint16_t port);
// What the list view's NM_DBLCLK hands to the launch, for the given row (or -1).
void DoubleClickLaunchRow(int row);

// Every text that reached the status bar, with the cursor the GUI thread had then.
struct LaunchStatusEntry {
  std::string text;
  WPARAM wParam;  // part and drawing type as sent
  HCURSOR cursor;
  bool waitCursor;
};
extern std::vector<LaunchStatusEntry> launchStatusLog;
std::string LaunchStatusText(int part);
// Takes a posted WM_QUIT off this thread's queue; true (and its exit code) when there was one.
bool TakeLaunchQuit(int *exitCode);

// ---- Message boxes of the GUI thread, answered by a watcher thread.
struct LaunchBox {
  std::string caption;
  std::string text;
  std::string status;  // status-bar part 0 while the box was up
  HWND owner;
  bool yesNo;   // Yes and No, and no OK button
  bool okOnly;  // a single OK button
  bool questionIcon;
  bool warningIcon;
};
// Answers the n-th Yes/No box with answers[n] (IDNO once the list runs out) and OK boxes with OK.
void StartLaunchBoxWatcher(const std::vector<int> &answers);
// Stops the watcher and gives back every box it saw, in order.
std::vector<LaunchBox> StopLaunchBoxWatcher(void);
// A double-click of the row with the boxes answered as above; gives back the boxes.
std::vector<LaunchBox> DoubleClickAnswering(int row, const std::vector<int> &answers = {});
// Every text the launch put in the status bar, in order.
std::vector<std::string> LaunchStatusTexts(void);

// ---- The stand-in game and the records it appends to fakegame.log beside itself.
struct LaunchGameStart {
  std::string commandLine;
  std::string currentDir;
  std::string module;
};
// A program the build puts beside this test (quake2.exe, VarnetBrowser.exe), or the path in
// the environment variable when it is set: the wrapper of a private prefix names its copies.
std::string BuiltProgramPath(const char *variable, const char *name);
// Copies the stand-in game into dir (ending with a backslash) under the given name.
bool InstallLaunchStandIn(const std::string &dir, const char *name);
// Waits until dir's log holds `count` records; false on time-out.
bool WaitForLaunchGameStarts(const std::string &dir, size_t count, DWORD timeoutMs);
std::vector<LaunchGameStart> ReadLaunchGameStarts(const std::string &dir);

// ---- Files and directories (paths may be longer than 260 characters).
bool MakeLaunchDirs(const std::string &path);
bool WriteLaunchFile(const std::string &path, const char *text);
bool LaunchPathExists(const std::string &path);
// Deletes a tree; links are removed, never followed.
void RemoveLaunchTree(const std::string &dir);
// A fresh directory under the temporary directory, ending with a backslash.
std::string MakeLaunchTempDir(const char *prefix);
// Entry names of dir (ending with a backslash) in the order the file system lists them.
std::vector<std::string> ListLaunchNames(const std::string &dir);

// ---- Registry: HKLM and HKCU of this process turned to fresh private keys, and back.
bool IsolateLaunchRegistry(void);
void RestoreLaunchRegistry(void);
