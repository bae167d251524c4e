// The configuration dialog: game directory, executable name and the launch variant.
#include <string.h>

#include "settings/settings.h"
#include "resource.h"
#include "ui/ui_win.h"

// The directory field takes 258 characters, so the backslash added on reading always fits
// in the 260-byte setting together with its terminator.
static const WPARAM GAME_DIR_MAX_TYPED = SETTING_TEXT_SIZE - 2;

static void InitConfigDialog(HWND dialog) {
  SendDlgItemMessageA(dialog, IDC_GAME_DIR, EM_LIMITTEXT, GAME_DIR_MAX_TYPED, 0);
  SetDlgItemTextA(dialog, IDC_GAME_DIR, gameDir);
  SetDlgItemTextA(dialog, IDC_GAME_EXE, gameExe);
  SendDlgItemMessageA(dialog, IDC_ALT_START, BM_SETCHECK, (WPARAM)startupMethod, 0);
}

// The fields are taken as they are, empty ones included; only the backslash is added.
void ReadConfigDialog(HWND dialog) {
  memset(gameDir, 0, sizeof gameDir);
  memset(gameExe, 0, sizeof gameExe);
  SendDlgItemMessageA(dialog, IDC_GAME_DIR, WM_GETTEXT, sizeof gameDir, (LPARAM)gameDir);
  SendDlgItemMessageA(dialog, IDC_GAME_EXE, WM_GETTEXT, sizeof gameExe, (LPARAM)gameExe);
  startupMethod = (int32_t)SendDlgItemMessageA(dialog, IDC_ALT_START, BM_GETCHECK, 0, 0);
  EndWithBackslash(gameDir, sizeof gameDir);
}

// There is no Cancel: the close box stores the fields exactly as OK does.
static void CloseConfigDialog(HWND dialog) {
  ReadConfigDialog(dialog);
  EndDialog(dialog, 0);
}

// IDCANCEL (Esc) is left unhandled on purpose, so Esc keeps the dialog open.
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: InitConfigDialog(dialog); return TRUE;  // the focus goes to the first tab stop, OK
    case WM_CLOSE: CloseConfigDialog(dialog); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDOK) return FALSE;
      CloseConfigDialog(dialog);
      return TRUE;
  }
  return FALSE;
}
