// The update dialog: its procedure, and the dialog changes the download thread asks for.
#include <windows.h>
#include <commctrl.h>

#include "master/master_win.h"
#include "resource.h"
#include "ui/ui_win.h"

// Threading: hwndUpdateDialog and dialogShowsDownload are read and written on the GUI thread
// only. The download thread asks for every dialog change with a message to the main window,
// so whether the dialog still exists is decided on the thread that ends it, and nothing can
// reach a dialog that has gone.
HWND hwndUpdateDialog;
volatile LONG updateRunning;
static bool dialogShowsDownload;  // the open dialog started the download that runs now

bool IsUpdateRunning(void) { return InterlockedCompareExchange(&updateRunning, 0, 0) != 0; }

static void ShowDialogError(HWND dialog, const char *text) {
  SetDlgItemTextA(dialog, IDC_UPDATE_STATUS, text);
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 5, 0);
  SetDlgItemTextA(dialog, IDC_ABORT, "Close");
}

// After an Abort the earlier download goes on and will merge and refresh by itself; a second
// one beside it could merge at the same time, so it is refused until the first has finished.
static void StartDownload(HWND dialog) {
  if (InterlockedCompareExchange(&updateRunning, 1, 0) != 0) {
    ShowDialogError(dialog, "ERROR: Update already running.");
    return;
  }
  dialogShowsDownload = true;
  HANDLE thread = CreateThread(NULL, 0, FetchMasterList, NULL, 0, NULL);
  if (thread == NULL) {
    // The dialog keeps its first text and its Abort button until the user ends it.
    dialogShowsDownload = false;
    InterlockedExchange(&updateRunning, 0);
    return;
  }
  CloseHandle(thread);
}

static INT_PTR InitUpdateDialog(HWND dialog) {
  hwndUpdateDialog = dialog;
  dialogShowsDownload = false;
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 5));
  ShowWindow(dialog, SW_SHOWNORMAL);
  UpdateWindow(dialog);
  StartDownload(dialog);
  return TRUE;
}

// The dialog counts as gone from the moment it is ended, before the modal loop lets it go.
static void ForgetUpdateDialog(HWND dialog) {
  if (hwndUpdateDialog != dialog) return;
  hwndUpdateDialog = NULL;
  dialogShowsDownload = false;
}

static INT_PTR EndUpdateDialog(HWND dialog, INT_PTR result) {
  ForgetUpdateDialog(dialog);
  EndDialog(dialog, result);
  return TRUE;
}

// Abort (later Close), Enter, Escape and the close box all end the dialog at once; a transfer
// still running is not stopped.
INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return InitUpdateDialog(dialog);
    case WM_COMMAND:
    case WM_CLOSE: return EndUpdateDialog(dialog, 0);
    case WM_DESTROY: ForgetUpdateDialog(dialog); return FALSE;
  }
  return FALSE;
}

// Runs on the GUI thread, called by the main window for WM_APP_UPDATE_DIALOG.
LRESULT HandleUpdateDialogMessage(WPARAM operation, LPARAM value) {
  HWND dialog = hwndUpdateDialog;
  if (dialog == NULL || !dialogShowsDownload) return FALSE;  // this download's dialog has gone
  switch (operation) {
    case UPDATE_SET_STATUS: SetDlgItemTextA(dialog, IDC_UPDATE_STATUS, (const char *)value); return TRUE;
    case UPDATE_MOVE_PROGRESS:
      SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_DELTAPOS, (WPARAM)value, 0);
      return TRUE;
    case UPDATE_SET_PROGRESS:
      SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, (WPARAM)value, 0);
      return TRUE;
    case UPDATE_SET_BUTTON: SetDlgItemTextA(dialog, IDC_ABORT, (const char *)value); return TRUE;
    case UPDATE_END_DIALOG: return EndUpdateDialog(dialog, (INT_PTR)value);
  }
  return FALSE;
}

// Runs on the GUI thread, called by the main window for WM_APP_MERGE_LIST. The rows go first:
// each shows a record by its index, and the merge moves and clears records.
LRESULT HandleMergeMessage(LPARAM list) {
  const MasterListText *master = (const MasterListText *)list;
  SendMessageA(hwndServerList, LVM_DELETEALLITEMS, 0, 0);
  SendMessageA(hwndPlayerList, LVM_DELETEALLITEMS, 0, 0);
  MergeMasterList(master->text, master->length);
  return TRUE;
}
