// The configuration dialog: game directory, executable name and the launch variant.
#include <string.h>
#include <wchar.h>

#include "settings/settings.h"
#include "settings/settings_win.h"
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

// Read wide, so a folder named outside the ANSI code page that exists is kept by its short path.
// A text whose characters the ANSI setting can't hold is refused, not stored as others: the box
// says why, and the field gets the focus.
static bool ReadPathField(HWND dialog, int id, char *setting, bool isFolder) {
  wchar_t typed[SETTING_TEXT_SIZE];
  if (GetDlgItemTextW(dialog, id, typed, SETTING_TEXT_SIZE) == 0) typed[0] = 0;
  TrimTypedPath(typed);
  if (isFolder && typed[0] != 0 && AnsiPathOf(typed, setting, SETTING_TEXT_SIZE)) return true;
  if (CutToAnsiExactly(typed, setting, SETTING_TEXT_SIZE)) return true;
  ExplainUnusableName(dialog, typed, isFolder, L"" CONFIG_CAPTION);
  SetFocus(GetDlgItem(dialog, id));
  return false;
}

// The fields are taken as typed, less the quotes and spaces a pasted path brings along; only
// the backslash is added. False, the settings as they were, when a field is refused.
bool ReadConfigDialog(HWND dialog) {
  ReadAnsiLeadBytes();
  char dir[SETTING_TEXT_SIZE] = "", exe[SETTING_TEXT_SIZE] = "";
  if (!ReadPathField(dialog, IDC_GAME_DIR, dir, true) || !ReadPathField(dialog, IDC_GAME_EXE, exe, false))
    return false;
  memset(gameDir, 0, sizeof gameDir);
  memset(gameExe, 0, sizeof gameExe);
  CopyText(gameDir, sizeof gameDir, dir);
  CopyText(gameExe, sizeof gameExe, exe);
  startupMethod = (int32_t)SendDlgItemMessageA(dialog, IDC_ALT_START, BM_GETCHECK, 0, 0);
  EndWithBackslash(gameDir, sizeof gameDir);
  return true;
}

// There is no Cancel: the close box stores the fields exactly as OK does.
static void CloseConfigDialog(HWND dialog) {
  if (ReadConfigDialog(dialog)) EndDialog(dialog, 0);
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
