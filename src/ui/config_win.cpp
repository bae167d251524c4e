// PLACEHOLDER until the configuration dialog lands: keeps the program linking.
#include "ui/ui_win.h"

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_CLOSE || message == WM_COMMAND) EndDialog(dialog, 0);
  return FALSE;
}
