// The probe's reading and driving subcommands: status bar, list rows, points for clicks, buttons, dialogs.
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "probe.h"

enum { DEFAULT_WAIT_MS = 10000, CLASS_NAME_SIZE = 64 };

// The browser at once (no waiting); reports its absence on stderr.
static HWND Browser(void) {
  HWND browser = FindBrowser();
  if (browser == NULL) fprintf(stderr, "probe: no browser window\n");
  return browser;
}

// "servers" or "players": the list view with that control id.
static HWND NamedList(HWND browser, const char *name) {
  if (strcmp(name, "servers") == 0) return ChildById(browser, ID_SERVER_LIST);
  if (strcmp(name, "players") == 0) return ChildById(browser, ID_PLAYER_LIST);
  fprintf(stderr, "probe: unknown list \"%s\" (servers or players)\n", name);
  return NULL;
}

// The browser's list of that name, or NULL; *browser is the main window (or NULL).
static HWND BrowserList(const char *name, HWND *browser) {
  *browser = Browser();
  return *browser != NULL ? NamedList(*browser, name) : NULL;
}

int CmdFind(int argc, char **argv) {
  HWND browser = WaitForBrowser((DWORD)ParseInt(argc > 0 ? argv[0] : NULL, DEFAULT_WAIT_MS));
  if (browser == NULL) return PROBE_FAILED;
  printf("window %p pid %lu visible %d\n", (void *)browser, (unsigned long)WindowProcess(browser),
         IsWindowVisible(browser) ? 1 : 0);
  return PROBE_OK;
}

// With a part number: that part's text alone; without: every part as "N<TAB>TEXT".
int CmdStatus(int argc, char **argv) {
  HWND browser = Browser();
  if (browser == NULL) return PROBE_FAILED;
  RemoteBuffer remote;
  if (!OpenRemote(browser, &remote)) return PROBE_FAILED;
  HWND statusBar = FindStatusBar(browser);
  char text[PROBE_TEXT_SIZE];
  int status = PROBE_OK;
  for (int part = 0; part < 3; part++) {
    if (argc > 0 && part != ParseInt(argv[0], -1)) continue;
    if (!ReadStatusPart(statusBar, &remote, part, text, sizeof text)) status = PROBE_FAILED;
    if (argc > 0)
      printf("%s\n", text);
    else
      printf("%d\t%s\n", part, text);
  }
  CloseRemote(&remote);
  return status;
}

static bool StartsWith(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// wait-status PART PREFIX [TIMEOUT_MS]: polls until the part's text starts with PREFIX.
int CmdWaitStatus(int argc, char **argv) {
  if (argc < 2) return PROBE_USAGE;
  int part = ParseInt(argv[0], 0);
  DWORD timeout = (DWORD)ParseInt(argc > 2 ? argv[2] : NULL, DEFAULT_WAIT_MS);
  HWND browser = WaitForBrowser(timeout);
  RemoteBuffer remote;
  if (browser == NULL || !OpenRemote(browser, &remote)) return PROBE_FAILED;
  char text[PROBE_TEXT_SIZE] = "";
  DWORD start = GetTickCount();
  bool found = false;
  while (!found && !Elapsed(start, timeout) && IsWindow(browser)) {
    found =
        ReadStatusPart(FindStatusBar(browser), &remote, part, text, sizeof text) && StartsWith(text, argv[1]);
    if (!found) Sleep(POLL_MS);
  }
  CloseRemote(&remote);
  if (!found)
    fprintf(stderr, "probe: status part %d is \"%s\", not \"%s...\"\n", part, text, argv[1]);
  else
    printf("%s\n", text);
  return found ? PROBE_OK : PROBE_FAILED;
}

static void PrintRow(HWND list, RemoteBuffer *remote, int row, int columns, bool withImage) {
  char text[PROBE_TEXT_SIZE];
  printf("%d", row);
  for (int column = 0; column < columns; column++) {
    ReadListCell(list, remote, row, column, text, sizeof text);
    printf("\t%s", text);
  }
  if (withImage) printf("\t%d", ReadListImage(list, remote, row, 4));
  printf("\n");
}

// rows servers|players: "ROW<TAB>cells...", the server rows ending with the ping column's image.
int CmdRows(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  HWND browser;
  HWND list = BrowserList(argv[0], &browser);
  RemoteBuffer remote;
  if (list == NULL || !OpenRemote(browser, &remote)) return PROBE_FAILED;
  bool servers = strcmp(argv[0], "servers") == 0;
  int count = ListCount(list);
  for (int row = 0; row < count; row++) PrintRow(list, &remote, row, servers ? 5 : 3, servers);
  CloseRemote(&remote);
  return PROBE_OK;
}

int CmdCount(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  HWND browser;
  HWND list = BrowserList(argv[0], &browser);
  if (list == NULL) return PROBE_FAILED;
  printf("%d\n", ListCount(list));
  return PROBE_OK;
}

static void PrintCenter(const RECT &rect) {
  printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

typedef bool (*RectReader)(HWND list, RemoteBuffer *remote, int index, RECT *rect);

// LIST INDEX: the screen point in the middle of the rectangle the reader gives for that index.
static int PrintListPoint(int argc, char **argv, RectReader read) {
  if (argc < 2) return PROBE_USAGE;
  HWND browser;
  HWND list = BrowserList(argv[0], &browser);
  RemoteBuffer remote;
  if (list == NULL || !OpenRemote(browser, &remote)) return PROBE_FAILED;
  RECT rect;
  bool ok = read(list, &remote, ParseInt(argv[1], -1), &rect);
  CloseRemote(&remote);
  if (ok) PrintCenter(rect);
  return ok ? PROBE_OK : PROBE_FAILED;
}

// item-point LIST ROW: the screen point in the middle of the row's first cell.
int CmdItemPoint(int argc, char **argv) { return PrintListPoint(argc, argv, ReadListRect); }

// header-point LIST COLUMN: the screen point in the middle of that column's header.
int CmdHeaderPoint(int argc, char **argv) { return PrintListPoint(argc, argv, ReadHeaderRect); }

// window-point [ID]: a harmless spot to click on (the middle of the status bar) to give the
// window focus, or the middle of the main window's control with that id.
int CmdWindowPoint(int argc, char **argv) {
  HWND browser = Browser();
  HWND target = browser == NULL ? NULL
                : argc > 0      ? ChildById(browser, ParseInt(argv[0], -1))
                                : FindStatusBar(browser);
  RECT rect;
  if (target == NULL || !GetWindowRect(target, &rect)) return PROBE_FAILED;
  PrintCenter(rect);
  return PROBE_OK;
}

// rect: the main window's outer rectangle on screen, "X Y WIDTH HEIGHT".
int CmdRect(int, char **) {
  HWND browser = Browser();
  RECT rect;
  if (browser == NULL || !GetWindowRect(browser, &rect)) return PROBE_FAILED;
  printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  return PROBE_OK;
}

// closebox-point: the middle of the caption's close box, found by asking the window itself
// (WM_NCHITTEST) which of the points near its top right corner are HTCLOSE.
int CmdCloseBoxPoint(int, char **) {
  HWND browser = Browser();
  RECT window;
  if (browser == NULL || !GetWindowRect(browser, &window)) return PROBE_FAILED;
  RECT box = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
  for (LONG y = window.top; y < window.top + 48; y += 2) {
    for (LONG x = window.right - 1; x > window.right - 96; x -= 2) {
      if (SendBounded(browser, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
      if (x < box.left) box.left = x;
      if (x > box.right) box.right = x;
      if (y < box.top) box.top = y;
      if (y > box.bottom) box.bottom = y;
    }
  }
  if (box.left > box.right) {
    fprintf(stderr, "probe: no close box found\n");
    return PROBE_FAILED;
  }
  PrintCenter(box);
  return PROBE_OK;
}

// text ID: the text of the main window's child with that id.
int CmdText(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  HWND browser = Browser();
  HWND child = browser != NULL ? ChildById(browser, ParseInt(argv[0], -1)) : NULL;
  char text[PROBE_TEXT_SIZE];
  if (!ReadWindowText(child, text, sizeof text)) return PROBE_FAILED;
  printf("%s\n", text);
  return PROBE_OK;
}

int CmdEnabled(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  HWND browser = Browser();
  HWND child = browser != NULL ? ChildById(browser, ParseInt(argv[0], -1)) : NULL;
  if (child == NULL) return PROBE_FAILED;
  printf("%d\n", IsWindowEnabled(child) ? 1 : 0);
  return PROBE_OK;
}

// Posted, not sent: Update and Config open modal dialogs, which would hold a sent message.
// A failure says which step failed, so a script's log tells a missing window from a lost post.
static bool PostButton(HWND parent, int id) {
  HWND button = ChildById(parent, id);
  if (button == NULL) {
    fprintf(stderr, "probe: no control %d in window %p (error %lu)\n", id, (void *)parent, GetLastError());
    return false;
  }
  if (PostMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button)) return true;
  fprintf(stderr, "probe: posting the click of control %d to window %p failed (error %lu)\n", id,
          (void *)parent, GetLastError());
  return false;
}

// press ID [TIMEOUT_MS]: a click of the main window's button with that id, as its parent sees it.
int CmdPress(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  HWND browser = argc > 1 ? WaitForBrowser((DWORD)ParseInt(argv[1], DEFAULT_WAIT_MS)) : Browser();
  if (browser == NULL) {
    if (argc > 1) fprintf(stderr, "probe: no browser window within %s ms\n", argv[1]);
    return PROBE_FAILED;
  }
  return PostButton(browser, ParseInt(argv[0], -1)) ? PROBE_OK : PROBE_FAILED;
}

// hold PATH read|none MS [ID]: another program's brief hold of a file, sharing reads and writes
// but not deletes (read), or nothing (none); then the button ID pressed, so that whatever it
// does to the file happens inside the hold.
int CmdHold(int argc, char **argv) {
  if (argc < 3) return PROBE_USAGE;
  DWORD share = strcmp(argv[1], "read") == 0 ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  HANDLE file = CreateFileA(argv[0], GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "probe: can't open %s (error %lu)\n", argv[0], GetLastError());
    return PROBE_FAILED;
  }
  printf("held\n");
  fflush(stdout);
  bool pressed = argc < 4 || (Browser() != NULL && PostButton(Browser(), ParseInt(argv[3], -1)));
  Sleep((DWORD)ParseInt(argv[2], 0));
  CloseHandle(file);
  return pressed ? PROBE_OK : PROBE_FAILED;
}

// close [dialog]: WM_CLOSE to the main window (the close box), or to the open dialog.
int CmdClose(int argc, char **argv) {
  HWND browser = Browser();
  if (browser == NULL) return PROBE_FAILED;
  HWND target = browser;
  if (argc > 0 && strcmp(argv[0], "dialog") == 0) target = FindBrowserDialog(WindowProcess(browser));
  if (target == NULL) {
    fprintf(stderr, "probe: no dialog open\n");
    return PROBE_FAILED;
  }
  if (PostMessageA(target, WM_CLOSE, 0, 0)) return PROBE_OK;
  fprintf(stderr, "probe: posting WM_CLOSE to window %p failed (error %lu)\n", (void *)target,
          GetLastError());
  return PROBE_FAILED;
}

// wait-gone [TIMEOUT_MS]: until no browser window is left.
int CmdWaitGone(int argc, char **argv) {
  DWORD timeout = (DWORD)ParseInt(argc > 0 ? argv[0] : NULL, DEFAULT_WAIT_MS);
  DWORD start = GetTickCount();
  while (FindBrowser() != NULL) {
    if (Elapsed(start, timeout)) return PROBE_FAILED;
    Sleep(POLL_MS);
  }
  return PROBE_OK;
}

static BOOL CALLBACK PrintProcessWindow(HWND window, LPARAM pid) {
  if (WindowProcess(window) != (DWORD)pid) return TRUE;
  char name[CLASS_NAME_SIZE] = "";
  char title[PROBE_TEXT_SIZE] = "";
  GetClassNameA(window, name, sizeof name);
  ReadWindowText(window, title, sizeof title);
  printf("%p\t%s\t%d\t%s\n", (void *)window, name, IsWindowVisible(window) ? 1 : 0, title);
  return TRUE;
}

// windows: the browser process's top-level windows (message boxes included), "HWND class visible title".
int CmdWindows(int, char **) {
  HWND browser = Browser();
  if (browser == NULL) return PROBE_FAILED;
  EnumWindows(PrintProcessWindow, (LPARAM)WindowProcess(browser));
  return PROBE_OK;
}

// focus: the control that has the browser's keyboard focus, "ID<TAB>CLASS", or "none".
int CmdFocus(int, char **) {
  HWND browser = Browser();
  if (browser == NULL) return PROBE_FAILED;
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(browser, NULL), &info)) return PROBE_FAILED;
  if (info.hwndFocus == NULL) {
    printf("none\n");
    return PROBE_OK;
  }
  char name[CLASS_NAME_SIZE] = "";
  GetClassNameA(info.hwndFocus, name, sizeof name);
  printf("%d\t%s\n", info.hwndFocus == browser ? 0 : GetDlgCtrlID(info.hwndFocus), name);
  return PROBE_OK;
}

// select LIST ROW: selects the row by LVM_SETITEMSTATE alone, as another program could.
int CmdSelect(int argc, char **argv) {
  if (argc < 2) return PROBE_USAGE;
  HWND browser;
  HWND list = BrowserList(argv[0], &browser);
  RemoteBuffer remote;
  if (list == NULL || !OpenRemote(browser, &remote)) return PROBE_FAILED;
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  bool ok = WriteRemote(&remote, 0, &item, sizeof item) &&
            SendBounded(list, LVM_SETITEMSTATE, (WPARAM)ParseInt(argv[1], -1), (LPARAM)remote.base);
  CloseRemote(&remote);
  return ok ? PROBE_OK : PROBE_FAILED;
}

// send MESSAGE [WPARAM] [LPARAM]: sends a message to the main window and prints its result.
int CmdSend(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  HWND browser = Browser();
  if (browser == NULL) return PROBE_FAILED;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(
          browser, (UINT)ParseInt(argv[0], 0), (WPARAM)ParseInt(argc > 1 ? argv[1] : NULL, 0),
          (LPARAM)ParseInt(argc > 2 ? argv[2] : NULL, 0), SMTO_NORMAL, SEND_TIMEOUT_MS, &result)) {
    fprintf(stderr, "probe: no answer to message %s\n", argv[0]);
    return PROBE_FAILED;
  }
  printf("%lld\n", (long long)result);
  return PROBE_OK;
}

// selected LIST: "ROW MARK", the first selected row (or -1) and the selection mark.
int CmdSelected(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  HWND browser;
  HWND list = BrowserList(argv[0], &browser);
  if (list == NULL) return PROBE_FAILED;
  int row = (int)SendBounded(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
  int mark = (int)SendBounded(list, LVM_GETSELECTIONMARK, 0, 0);
  printf("%d %d\n", row, mark);
  return PROBE_OK;
}

// clipboard: the clipboard's text (the prefix's clipboard is the browser's), or exit code 1.
int CmdClipboard(int, char **) {
  if (!OpenClipboard(NULL)) return PROBE_FAILED;
  HANDLE data = GetClipboardData(CF_TEXT);
  const char *text = data != NULL ? (const char *)GlobalLock(data) : NULL;
  if (text != NULL) printf("%.*s\n", PROBE_TEXT_SIZE, text);
  if (text != NULL) GlobalUnlock(data);
  CloseClipboard();
  return text != NULL ? PROBE_OK : PROBE_FAILED;
}
