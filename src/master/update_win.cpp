// PLACEHOLDER until the master list work lands: keeps the program linking.
#include "master/master_win.h"

HWND hwndUpdateDialog;

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_CLOSE || message == WM_COMMAND) EndDialog(dialog, 0);
  return FALSE;
}

LRESULT HandleUpdateDialogMessage(WPARAM, LPARAM) { return 0; }
