// Entry, main window and message loop: start-up in a fixed order, command dispatch, shut-down.
#include <winsock2.h>

#include <string.h>

#include "app/app_win.h"
#include "launch/launch_win.h"
#include "master/master_win.h"
#include "query/query_win.h"
#include "resource.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"

// Set once the run is ending without a save in WM_DESTROY: after Exit, after a failed
// Winsock start (which must leave the registry and cache untouched) and once the loop is over.
static bool quitHandled;
// Set once SaveState has run, or must never run (a failed Winsock start): whichever of Exit,
// WM_DESTROY, a launch and the end of the session comes first saves, and nothing saves twice.
static bool stateSaved;
// Set once the run is ending (Exit, a close, a launch, the end of the session): a drive search
// still walking stops at its next step, and no later box is shown.
bool runEnding;
// The list that had the keyboard focus last: at the last deactivation, or the list that took
// it since. It gets the focus back when the window is activated again and when a button's
// command is done. A button is never remembered: its command disables it or opens a dialog.
static HWND hwndLastFocus;
// Set while the Update or Config dialog is up: a second click or shortcut queued before the
// dialog disabled the window is dispatched inside its modal loop, and would open a second
// dialog over it.
static bool updateDialogOpen, configDialogOpen;
// The four commands from the keyboard, one letter each like the buttons' first letters.
static HACCEL shortcuts;

void RegisterMainClass(void) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = appInstance;
  wc.hIcon = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_APP));
  wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
  wc.lpszClassName = APP_NAME;
  wc.hIconSm = wc.hIcon;
  if (RegisterClassExA(&wc) == 0) MessageBoxA(NULL, "Error registering class", APP_NAME, MB_OK);
}

// The caption's icon at the window's dpi (the system metric is the system dpi's); the one it
// replaces was loaded here too.
static void SetSmallIcon(void) {
  HANDLE icon = LoadImageA(appInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON,
                           MulDiv(GetSystemMetrics(SM_CXSMICON), windowDpi, SystemDpi()),
                           MulDiv(GetSystemMetrics(SM_CYSMICON), windowDpi, SystemDpi()), LR_DEFAULTCOLOR);
  HICON old = icon != NULL ? (HICON)SendMessageA(hwndMain, WM_SETICON, ICON_SMALL, (LPARAM)icon) : NULL;
  if (old != NULL) DestroyIcon(old);
}

// The keys are in the code rather than the resources, so the table can't be missing.
static HACCEL CreateShortcuts(void) {
  static ACCEL keys[] = {
      {FVIRTKEY, VK_F5, ID_REFRESH},     {FVIRTKEY | FALT, 'R', ID_REFRESH},
      {FVIRTKEY | FALT, 'U', ID_UPDATE}, {FVIRTKEY | FALT, 'C', ID_CONFIG},
      {FVIRTKEY | FALT, 'E', ID_EXIT},
  };
  return CreateAcceleratorTableA(keys, sizeof keys / sizeof keys[0]);
}

// Dialogs and message boxes run loops of their own, so a shortcut acts only on the main window.
static int RunMessageLoop(void) {
  MSG msg;
  shortcuts = CreateShortcuts();
  while (GetMessageA(&msg, NULL, 0, 0)) {
    if (shortcuts != NULL && TranslateAcceleratorA(hwndMain, shortcuts, &msg)) {
      // Wine's default handling decides whether Alt was pressed alone from the keys it sees:
      // without this one, releasing Alt after Alt+R would put the window in menu mode, and the
      // next keys would go to the system menu.
      if (msg.message == WM_SYSKEYDOWN) DefWindowProcA(msg.hwnd, msg.message, msg.wParam, msg.lParam);
      continue;
    }
    TranslateMessage(&msg);
    TRACE("dispatch", (int)msg.message);
    DispatchMessageA(&msg);
    TRACE("dispatched", TraceWindowKind(msg.hwnd) << 16 | (int)msg.message);
  }
  return (int)msg.wParam;
}

// Made at its 96-dpi size and not yet shown: on a display of another scale it grows to the
// same size in points before the controls are made in it.
static void FitWindowToDpi(void) {
  windowDpi = WindowDpi(hwndMain);
  if (windowDpi == 96) return;
  SetWindowPos(hwndMain, NULL, 0, 0, ScaleToDpi(MAIN_WINDOW_WIDTH, windowDpi),
               ScaleToDpi(MAIN_WINDOW_HEIGHT, windowDpi), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Moved to a monitor of another scale: the one size change the window makes. The suggested
// rectangle keeps it under the cursor; both halves of wParam carry the same dpi.
static LRESULT OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
  const RECT *suggested = (const RECT *)lParam;
  windowDpi = HIWORD(wParam);
  SetWindowPos(window, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayOutMainControls(window);
  SetSmallIcon();
  return 0;
}

// Fixed outer size; no sizing border or maximize box, so the layout is computed once (and again
// only for a display of another scale).
HWND CreateMainWindow(void) {
  hwndMain =
      CreateWindowExA(0, APP_NAME, APP_NAME, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                      CW_USEDEFAULT, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT, NULL, NULL, appInstance, NULL);
  if (hwndMain != NULL) FitWindowToDpi();
  SetSmallIcon();
  return hwndMain;
}

// Two browsers would each save their own table and settings over the other's, the one closed
// last winning. The mutex lives as long as this process and names this session's browser; a
// second start shows the first one's window instead and ends having changed nothing. A first
// browser run as administrator holds a mutex this one may not open: access denied means it
// runs as surely as "already exists". The first one may be busy (in the drive search, say), so
// nothing here waits for it to answer.
static_assert(MUTEX_EXISTS_ERROR == ERROR_ALREADY_EXISTS && MUTEX_DENIED_ERROR == ERROR_ACCESS_DENIED,
              "the mutex errors");
static bool ShowRunningBrowser(void) {
  CreateMutexW(NULL, FALSE, L"Local\\" APP_NAME);
  if (!IsRunningBrowserError(GetLastError())) return false;
  HWND running = FindWindowA(APP_NAME, NULL);
  if (running != NULL) {
    if (IsIconic(running)) ShowWindowAsync(running, SW_RESTORE);
    HWND popup = GetLastActivePopup(running);  // its open question or dialog, else itself
    SetForegroundWindow(popup != NULL ? popup : running);
  }
  return true;
}

int AppMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  if (ShowRunningBrowser()) return 0;
  appInstance = instance;
  ResolveCachePath();  // before anything can change the current directory
  RegisterMainClass();
  InitCommonControls();
  CreateMainWindow();
  if (hwndMain == NULL) {
    MessageBoxA(NULL, "Unable to create window", APP_NAME, MB_OK);
    return 1;
  }
  PostMessageA(hwndMain, WM_APP_INIT, 0, (LPARAM)commandLine);
  int code = RunMessageLoop();
  quitHandled = true;
  return code;
}

// The order is part of the contract: the table is filled before the controls exist, the
// settings are read after them, and the first refresh comes last.
LRESULT InitializeApp(void) {
  ShowWindow(hwndMain, SW_SHOWNORMAL);
  UpdateWindow(hwndMain);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
    // Before the box: a close or a session end while it shows must not save an empty state.
    quitHandled = true;
    stateSaved = true;
    MessageBoxA(hwndMain, "Couldn't load Winsock!", "Error", MB_OK);
    PostQuitMessage(1);
    return 0;
  }
  serverCount = 0;
  LoadCache();
  memset(gameDir, 0, sizeof gameDir);
  memset(gameExe, 0, sizeof gameExe);
  hwndServerList = CreateMainControls(hwndMain, appInstance);
  LoadSettings();
  if (gameExe[0] == 0) CopyText(gameExe, sizeof gameExe, DEFAULT_GAME_EXE);
  SetFocus(hwndServerList);  // a player without a mouse starts in the list
  RefreshServers();
  return 0;
}

// Each step runs whatever became of the one before it.
void SaveState(void) {
  SaveSettings();
  SaveCache();
  WSACleanup();
}

static void SaveStateOnce(void) {
  if (stateSaved) return;
  stateSaved = true;
  SaveState();
}

void SaveAndQuit(void) {
  runEnding = true;
  SaveStateOnce();
  quitHandled = true;
  PostQuitMessage(0);
}

static HWND RememberedList(void) {
  if (hwndPlayerList != NULL && hwndLastFocus == hwndPlayerList) return hwndPlayerList;
  return hwndServerList;
}

// A clicked button keeps the focus, and Refresh is disabled for its pass: the keys would reach
// nothing. While another program is active, OnSetFocus does this at the next activation.
static void RestoreListFocus(void) {
  if (GetActiveWindow() != hwndMain) return;
  HWND list = RememberedList();
  if (list != NULL) SetFocus(list);
}

// The flag is the dialog's own: set while it is up, so a second command for it does nothing.
static void OpenDialogOnce(bool *open, int resource, DLGPROC procedure) {
  if (*open) return;
  *open = true;
  DialogBoxParamA(appInstance, MAKEINTRESOURCEA(resource), hwndMain, procedure, 0);
  *open = false;
  RestoreListFocus();
}

// A shortcut (notification code 1) reaches its command even when the button is disabled, as
// Refresh is during a pass; the keyboard must not do what a click can't.
static bool IsDisabledShortcut(WPARAM wParam) {
  if (HIWORD(wParam) != 1) return false;
  HWND button = GetDlgItem(hwndMain, LOWORD(wParam));
  return button != NULL && !IsWindowEnabled(button);
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  int id = LOWORD(wParam);
  bool known = id == ID_EXIT || id == ID_REFRESH || id == ID_UPDATE || id == ID_CONFIG;
  if (known && IsDisabledShortcut(wParam)) return 0;
  switch (id) {
    case ID_EXIT: SaveAndQuit(); return 0;
    case ID_REFRESH:
      TRACE("click", 0);
      RefreshServers();
      TRACE("refresh-returned", 0);
      RestoreListFocus();
      return 0;
    case ID_UPDATE: OpenDialogOnce(&updateDialogOpen, IDD_UPDATE, UpdateDialogProc); return 0;
    case ID_CONFIG: OpenDialogOnce(&configDialogOpen, IDD_CONFIG, ConfigDialogProc); return 0;
  }
  return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

static LRESULT OnDestroy(void) {
  if (!quitHandled) SaveAndQuit();
  return 0;
}

// At logoff or shutdown Windows may end the process after this message, and WM_DESTROY never
// comes; the Restart Manager (ENDSESSION_CLOSEAPP in lParam) and Wine leave it running. So the
// run ends here as Exit ends it, whatever lParam says. When the session goes on after all
// (wParam FALSE), nothing has happened.
static LRESULT OnEndSession(WPARAM ending) {
  if (ending && !quitHandled) SaveAndQuit();
  return 0;
}

// Leaving: remember which of our controls had the focus. Coming back: default handling gives
// the window itself the focus, and OnSetFocus passes it on.
static LRESULT OnActivate(HWND window, WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != NULL && (focus == hwndServerList || focus == hwndPlayerList)) hwndLastFocus = focus;
  }
  return DefWindowProcA(window, WM_ACTIVATE, wParam, lParam);
}

// A double-click, Enter or the menu's Connect on a server row; a started game ends the run.
static void LaunchRow(const NMHDR *header, int row) {
  NMITEMACTIVATE activate = {};
  activate.hdr = *header;
  activate.iItem = row;
  if (LaunchSelectedServer(&activate)) SaveAndQuit();
}

// Enter comes as NM_RETURN, not LVN_ITEMACTIVATE, which a double-click sends as well: that
// would start the game twice.
static LRESULT OnServerActivate(const NMHDR *header) {
  if (header->code == NM_DBLCLK)
    LaunchRow(header, ((const NMITEMACTIVATE *)header)->iItem);
  else
    LaunchRow(header, SelectedServerRow());
  return 0;
}

// Connect from the menu: the server the menu was opened for, wherever its row is now.
static void ConnectServer(int index, const char *address) {
  NMHDR header = {};
  header.hwndFrom = hwndServerList;
  header.idFrom = ID_SERVER_LIST;
  header.code = NM_DBLCLK;
  int row = FindServerRow(index, address);
  if (row >= 0) LaunchRow(&header, row);
}

// The server list's menu: a right-click on a row, Shift+F10 or the Menu key. Its Connect goes
// through the same launch as a double-click. The server is taken before the menu opens, as the
// menu's loop lets passes and merges go on.
static LRESULT OnContextMenu(HWND window, WPARAM wParam, LPARAM lParam) {
  if ((HWND)wParam != hwndServerList) return DefWindowProcA(window, WM_CONTEXTMENU, wParam, lParam);
  POINT at;
  int row = ServerMenuRow(lParam, &at);
  int index = row >= 0 ? RowRecordIndex(row) : -1;
  char address[ADDRESS_CELL_SIZE];
  if (index < 0 || !RowAddressText(row, address, sizeof address)) return 0;
  switch (TrackServerMenu(window, at)) {
    case IDM_CONNECT: ConnectServer(index, address); break;
    case IDM_COPY_ADDRESS: PutClipboardText(address); break;
  }
  return 0;
}

// The lists say when they get the focus. That covers a deactivation that finds no focus to
// remember, as when the window is disabled for a modal dialog before it loses activation.
static LRESULT OnNotify(WPARAM wParam, LPARAM lParam) {
  const NMHDR *header = (const NMHDR *)lParam;
  if (header->code == NM_SETFOCUS) hwndLastFocus = header->hwndFrom;
  bool activated = header->code == NM_DBLCLK || header->code == NM_RETURN;
  if (wParam == ID_SERVER_LIST && activated) return OnServerActivate(header);
  return HandleListNotify(wParam, lParam);
}

static LRESULT OnSetFocus(void) {
  HWND target = RememberedList();
  if (target != NULL) SetFocus(target);
  return 0;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_APP_INIT: return InitializeApp();
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_NOTIFY: return OnNotify(wParam, lParam);
    case WM_APP_UPDATE_DIALOG: return HandleUpdateDialogMessage(wParam, lParam);
    case WM_APP_MERGE_LIST: return HandleMergeMessage(lParam);
    case WM_APP_PASS: return HandlePassMessage(wParam, lParam);
    case WM_DPICHANGED: return OnDpiChanged(window, wParam, lParam);
    case WM_DESTROY: return OnDestroy();
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION: return OnEndSession(wParam);
    case WM_ACTIVATE: return OnActivate(window, wParam, lParam);
    case WM_SETFOCUS: return OnSetFocus();
    case WM_CONTEXTMENU: return OnContextMenu(window, wParam, lParam);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
