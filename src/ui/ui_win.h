// Main window controls, list-view notifications and the configuration dialog (Win32).
#pragma once
#include <windows.h>
#include <commctrl.h>

extern HWND hwndServerList;
extern HWND hwndPlayerList;
extern HWND hwndStatusBar;
extern HWND hwndRefreshButton;

enum {
  ID_EXIT = 140,
  ID_REFRESH = 141,
  ID_UPDATE = 142,
  ID_SERVER_LIST = 143,
  ID_PLAYER_LIST = 144,
  ID_CONFIG = 161
};

HWND CreateMainControls(HWND hwndParent, HINSTANCE instance);
int InitImageLists(HWND hwndServers);

// Part 0 is the running status message, part 1 the player total, part 2 the server count.
void SetStatusText(int part, const char *text);

// The record index a server-list row carries as its item data, or -1 when there is no such row
// or the index is not a record in use.
int RowRecordIndex(int row);

// The WM_NOTIFY branch of the main window; always answers 0.
LRESULT HandleListNotify(WPARAM wParam, LPARAM lParam);
int CALLBACK CompareServers(LPARAM a, LPARAM b, LPARAM column);
int CALLBACK ComparePlayers(LPARAM a, LPARAM b, LPARAM column);
void ShowPlayers(const NMITEMACTIVATE *activate);

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ReadConfigDialog(HWND dialog);
