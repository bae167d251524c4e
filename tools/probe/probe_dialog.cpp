// The probe's dialog subcommands: wait for the browser's open dialog, read and set its fields, press its
// buttons.
#include <stdio.h>
#include <string.h>

#include "probe.h"

enum { DEFAULT_WAIT_MS = 10000, CLASS_NAME_SIZE = 64 };

// The open dialog of the browser's process (a message box is one too), or NULL.
static HWND OpenDialog(void) {
  HWND browser = FindBrowser();
  if (browser == NULL) {
    fprintf(stderr, "probe: no browser window\n");
    return NULL;
  }
  HWND dialog = FindBrowserDialog(WindowProcess(browser));
  if (dialog == NULL) fprintf(stderr, "probe: no dialog open\n");
  return dialog;
}

static HWND DialogItem(int argc, char **argv, int *id) {
  if (argc < 1) return NULL;
  HWND dialog = OpenDialog();
  *id = ParseInt(argv[0], -1);
  HWND item = dialog != NULL ? GetDlgItem(dialog, *id) : NULL;
  if (dialog != NULL && item == NULL) fprintf(stderr, "probe: the dialog has no control %d\n", *id);
  return item;
}

static BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  char name[CLASS_NAME_SIZE] = "";
  char text[PROBE_TEXT_SIZE] = "";
  GetClassNameA(child, name, sizeof name);
  ReadWindowText(child, text, sizeof text);
  printf("%d\t%s\t%s\n", GetDlgCtrlID(child), name, text);
  return TRUE;
}

// dialog [TITLE] [TIMEOUT_MS]: waits for an open dialog (with that title, unless it is empty);
// prints "title TEXT", "owner main|none|other" (the browser's main window or not), then one
// "ID<TAB>class<TAB>text" line per control.
int CmdDialog(int argc, char **argv) {
  const char *wanted = argc > 0 ? argv[0] : "";
  DWORD timeout = (DWORD)ParseInt(argc > 1 ? argv[1] : NULL, DEFAULT_WAIT_MS);
  DWORD start = GetTickCount();
  char title[PROBE_TEXT_SIZE] = "";
  for (;;) {
    HWND browser = FindBrowser();
    HWND dialog = browser != NULL ? FindBrowserDialog(WindowProcess(browser)) : NULL;
    if (dialog != NULL && ReadWindowText(dialog, title, sizeof title) &&
        (wanted[0] == 0 || strcmp(title, wanted) == 0)) {
      printf("title %s\n", title);
      HWND owner = GetWindow(dialog, GW_OWNER);
      printf("owner %s\n", owner == browser ? "main" : (owner == NULL ? "none" : "other"));
      EnumChildWindows(dialog, PrintChild, 0);
      return PROBE_OK;
    }
    if (Elapsed(start, timeout)) break;
    Sleep(POLL_MS);
  }
  fprintf(stderr, "probe: no dialog \"%s\" (last seen \"%s\")\n", wanted, title);
  return PROBE_FAILED;
}

// dialog-get ID: the text of the open dialog's control.
int CmdDialogGet(int argc, char **argv) {
  int id = 0;
  HWND item = DialogItem(argc, argv, &id);
  char text[PROBE_TEXT_SIZE];
  if (item == NULL || !ReadWindowText(item, text, sizeof text)) return PROBE_FAILED;
  printf("%s\n", text);
  return PROBE_OK;
}

// dialog-set ID TEXT: WM_SETTEXT is carried across processes by the system.
int CmdDialogSet(int argc, char **argv) {
  if (argc < 2) return PROBE_USAGE;
  int id = 0;
  HWND item = DialogItem(argc, argv, &id);
  if (item == NULL) return PROBE_FAILED;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(item, WM_SETTEXT, 0, (LPARAM)argv[1], SMTO_NORMAL, SEND_TIMEOUT_MS, &result))
    return PROBE_FAILED;
  return result ? PROBE_OK : PROBE_FAILED;
}

// dialog-press ID: the button's click as its dialog sees it (posted, so the dialog may end at once).
int CmdDialogPress(int argc, char **argv) {
  int id = 0;
  HWND item = DialogItem(argc, argv, &id);
  if (item == NULL) return PROBE_FAILED;
  if (PostMessageA(GetParent(item), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)item)) return PROBE_OK;
  fprintf(stderr, "probe: posting the click of dialog control %d failed (error %lu)\n", id, GetLastError());
  return PROBE_FAILED;
}

// dialog-check ID [STATE]: sets the check box's state when given, then prints it.
int CmdDialogCheck(int argc, char **argv) {
  int id = 0;
  HWND item = DialogItem(argc, argv, &id);
  if (item == NULL) return PROBE_FAILED;
  if (argc > 1) SendBounded(item, BM_SETCHECK, (WPARAM)ParseInt(argv[1], 0), 0);
  printf("%d\n", (int)SendBounded(item, BM_GETCHECK, 0, 0));
  return PROBE_OK;
}
