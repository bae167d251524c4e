// A stand-in main window for the update tests: real controls, the update dialog run as the
// Update button runs it, and a record of every dialog change the download thread asked for.
#pragma once
#include <windows.h>

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// What a watcher sees of the update dialog, on the GUI thread.
struct DialogView {
  HWND dialog;
  std::string status;  // control 1004 ("" when there is no dialog)
  int position;        // the progress bar (-1 when there is no dialog)
  int rangeLow, rangeHigh;
  std::string button;  // control 1003
};
DialogView ViewUpdateDialog(HWND dialog);

// One WM_APP_UPDATE_DIALOG as the main window received it, and the dialog around it.
struct UpdateStep {
  int operation;
  LPARAM value;
  std::string text;   // the operation's text, for the status and button operations
  bool applied;       // what HandleUpdateDialogMessage answered
  bool passRunning;   // query threads of a pass were running when the message arrived
  DialogView before;  // the dialog as it was before the message was handled
  DialogView after;   // ...and after it
};

// One WM_APP_MERGE_LIST as the main window received it: the thread it ran on, the table before
// the main window's handler ran and after it, and the rows left after it.
struct MergeStep {
  DWORD threadId;
  int32_t countBefore, countAfter;
  int serverRows, playerRows;
  int passStarts;            // passes started after it
  bool passStartedByWorker;  // one of them by a message a worker thread sent
};

// Creates hwndMain with the program's own controls (server list, player list, status bar);
// its window procedure forwards list notifications and WM_APP_UPDATE_DIALOG as the program's does.
bool CreateMasterTestWindow(void);

// The text each update test puts in the status bar first: a refresh would replace it.
#define MASTER_TEST_SENTINEL "status before the update"

// Before each update test: no download or pass running, an empty table and list, the sentinel
// in the status bar, no recorded steps, and the parse counters at a value no parse gives.
bool ResetMasterTestWindow(void);

// The record of dialog changes, and of merges, since the last ClearUpdateSteps.
const std::vector<UpdateStep> &UpdateSteps(void);
const std::vector<MergeStep> &MergeSteps(void);
void ClearUpdateSteps(void);

// Opens the update dialog with DialogBoxParamA, as the Update button does, and calls watch
// every 10 ms on the GUI thread while it runs. The watcher may post input to the dialog. A
// dialog still open after limitMs is ended by force and *timedOut is set.
void RunUpdateDialog(const std::function<void(const DialogView &)> &watch, DWORD limitMs, bool *timedOut);

// Input as the user gives it: a key to the dialog's focused control, a click of the button,
// the close box.
void PressDialogKey(HWND dialog, WPARAM key);
void ClickDialogButton(HWND dialog);
void ClickCloseBox(HWND dialog);
