// The update dialog and the master list download (Win32).
#pragma once
#include <windows.h>

#include "master/master.h"
#include "settings/settings.h"

extern HWND hwndUpdateDialog;

// Sent by the download thread to the main window, which applies it only while the update
// dialog still exists: the thread itself never calls on the dialog.
#define WM_APP_UPDATE_DIALOG (WM_APP + 1)

// wParam of WM_APP_UPDATE_DIALOG; lParam carries the operation's value. The message answers
// TRUE when it reached the dialog and FALSE when the dialog of that download has gone.
enum UpdateOperation {
  UPDATE_SET_STATUS = 1,  // lParam: const char *, the status line
  UPDATE_MOVE_PROGRESS,   // lParam: the increment (PBM_DELTAPOS)
  UPDATE_SET_PROGRESS,    // lParam: the position (PBM_SETPOS)
  UPDATE_SET_BUTTON,      // lParam: const char *, the button's caption
  UPDATE_END_DIALOG       // lParam: the dialog's result
};

// Sent by the download thread to the main window with a MasterListText as lParam: the GUI
// thread deletes the rows of both lists and merges the list into the table in one step, so no
// click, display callback, sort or save ever sees a record move. Answers TRUE.
#define WM_APP_MERGE_LIST (WM_APP + 2)

struct MasterListText {
  const char *text;
  int32_t length;  // characters of text to read
};

// The deadline of a download, from its start: opening the URL and reading the body must be
// done by then, or the download fails with ERROR_INTERNET_TIMEOUT and nothing is merged.
// 120 s; tests shorten it (VARNET_MASTER_DEADLINE_MS for a build, or the variable itself).
extern DWORD masterTransferLimitMs;

// Test seam, not used by the program: what the latest ParseMasterList was given, the byte
// count received and how much of it is text (NUL bytes keep the rest out).
extern volatile LONG parsedBodyTotal;
extern volatile LONG parsedTextLength;

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI FetchMasterList(LPVOID unused);
void ReportUpdateError(const char *message);
void ParseMasterList(char *text, int32_t length);
LRESULT HandleUpdateDialogMessage(WPARAM wParam, LPARAM lParam);
LRESULT HandleMergeMessage(LPARAM list);

// 1 from the start of a download thread until it has merged or failed; set by the dialog (GUI
// thread) before it starts the thread, cleared by the thread before it closes its handles.
// Only one download at a time gets that far, so two merges can never overlap.
extern volatile LONG updateRunning;
bool IsUpdateRunning(void);
