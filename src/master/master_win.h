// The update dialog and the master list download (Win32).
#pragma once
#include <stdint.h>
#include <windows.h>

extern HWND hwndUpdateDialog;

// Sent by the download thread to the main window, which applies it only while the update
// dialog still exists: the thread itself never calls on the dialog.
#define WM_APP_UPDATE_DIALOG (WM_APP + 1)

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI FetchMasterList(LPVOID unused);
void ReportUpdateError(const char *message);
void ParseMasterList(char *text, int32_t length);
LRESULT HandleUpdateDialogMessage(WPARAM wParam, LPARAM lParam);
