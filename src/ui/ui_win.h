// Main window controls, list-view notifications and the configuration dialog (Win32).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "resource.h"
#include "ui/ui.h"

// The main window and the instance are here, below the application that makes them, so that
// every subsystem can own a message box by the main window or send it a message.
extern HINSTANCE appInstance;
extern HWND hwndMain;
extern HWND hwndServerList;
extern HWND hwndPlayerList;
extern HWND hwndStatusBar;
extern HWND hwndRefreshButton;

// The main window's dpi: controls, fonts and icons are made for it.
extern int windowDpi;

HWND CreateMainControls(HWND hwndParent, HINSTANCE instance);
// The image lists and the status bar's icons at windowDpi's sizes, replacing earlier ones.
int InitImageLists(HWND hwndServers);
void SetStatusIcons(void);
void SetStatusParts(const MainLayout &layout);
// Moves and sizes the controls made at another dpi for windowDpi; nothing before they exist.
void LayOutMainControls(HWND parent);

// The dpi of the window's monitor, or the system's where Windows knows no other (Windows 7).
int WindowDpi(HWND window);
int SystemDpi(void);
// Gives the main window's controls the fonts they show at 96 dpi, made for dpi.
void SetControlFonts(HWND parent, int dpi);

// part: one of STATUS_PART_MESSAGE, STATUS_PART_PLAYERS and STATUS_PART_SERVERS.
void SetStatusText(int part, const char *text);
// true before a burst of texts, false after it: the bar is then repainted once.
void HoldStatusBar(bool hold);

// The record index a server-list row carries as its item data, or -1 when there is no such row
// or the index is not a record in use.
int RowRecordIndex(int row);

// Inserts the record's row where its ping belongs and leaves the moving of the rows below to the
// list view; a list the player sorted by another column is sorted by ping again.
void InsertServerRow(int recordIndex);

// The row that Enter acts on: the server list's first selected row, or -1.
int SelectedServerRow(void);
// The list part of the main window's WM_NOTIFY (a double-click or Enter on a server row is the
// main window's own); always answers 0.
LRESULT HandleListNotify(WPARAM wParam, LPARAM lParam);
int CALLBACK CompareServers(LPARAM a, LPARAM b, LPARAM column);
int CALLBACK ComparePlayers(LPARAM a, LPARAM b, LPARAM column);
void ShowPlayers(const NMITEMACTIVATE *activate);

// The server list's context menu. ServerMenuRow: the row a WM_CONTEXTMENU at POINT is for (the
// row under the mouse, or the selected row for the keyboard's -1, -1) and where the menu goes;
// -1 when there is no row. TrackServerMenu returns IDM_CONNECT, IDM_COPY_ADDRESS or 0.
int ServerMenuRow(LPARAM point, POINT *at);
int TrackServerMenu(HWND owner, POINT at);
// The row's Address cell ("127.0.0.1:27910"); false when there is no such row.
enum { ADDRESS_CELL_SIZE = TEXT_FIELD_SIZE + 8 };  // the address, a colon and the port
bool RowAddressText(int row, char *text, int size);
// Puts an address on the clipboard as Unicode and ANSI text, or says in the status bar why not.
bool PutClipboardText(const char *text);
// Puts the row's address, as its Address cell shows it, on the clipboard as text.
bool CopyRowAddress(int row);
// The row that now shows record index with that address, or -1: while a menu is open a pass
// re-sorts the rows and a merge moves the records.
int FindServerRow(int index, const char *address);

#define CONFIG_CAPTION "Miscellaenous Configuration"  // the dialog's own title, as its template spells it
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The fields into the settings; false, with a box saying why and the settings unchanged, when
// a field's characters can't be held.
bool ReadConfigDialog(HWND dialog);

// Timing stamps for a build made with VARNET_TRACE (QueryPerformanceCounter, any thread); in
// other builds they cost nothing.
#ifdef VARNET_TRACE
void Trace(const char *what, int value);
void WriteTrace(void);
int TraceWindowKind(HWND window);
#define TRACE(what, value) Trace(what, value)
#else
#define TRACE(what, value) ((void)0)
#endif
