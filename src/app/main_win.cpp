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
// The control that had the keyboard focus last: at the last deactivation, or the list that
// took it since. It gets the focus back when the window is activated again.
static HWND hwndLastFocus;

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

static void SetSmallIcon(void) {
  HANDLE icon = LoadImageA(appInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                           GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
  if (icon != NULL) SendMessageA(hwndMain, WM_SETICON, ICON_SMALL, (LPARAM)icon);
}

static int RunMessageLoop(void) {
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return (int)msg.wParam;
}

// Made at its size at 96 dpi (MAIN_WINDOW_WIDTH x MAIN_WINDOW_HEIGHT) and not yet shown: on a display of
// another scale it grows to the same size in points before the controls are made in it.
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
  return 0;
}

// Fixed outer size; no sizing border or maximize box, so the layout is computed once (and again
// only for a display of another scale).
HWND CreateMainWindow(void) {
  hwndMain = CreateWindowExA(0, APP_NAME, APP_NAME, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                             CW_USEDEFAULT, 560, 400, NULL, NULL, appInstance, NULL);
  if (hwndMain != NULL) FitWindowToDpi();
  SetSmallIcon();
  return hwndMain;
}

int AppMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
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
    MessageBoxA(hwndMain, "Couldn't load Winsock!", "Error", MB_OK);
    quitHandled = true;
    stateSaved = true;
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
  SaveStateOnce();
  quitHandled = true;
  PostQuitMessage(0);
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
    case ID_EXIT: SaveAndQuit(); return 0;
    case ID_REFRESH: RefreshServers(); return 0;
    case ID_UPDATE:
      DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_UPDATE), hwndMain, UpdateDialogProc, 0);
      return 0;
    case ID_CONFIG:
      DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_CONFIG), hwndMain, ConfigDialogProc, 0);
      return 0;
  }
  return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

static LRESULT OnDestroy(void) {
  if (!quitHandled) SaveAndQuit();
  return 0;
}

// At logoff or shutdown Windows ends the process after this message: WM_DESTROY never comes.
// When the session goes on after all (wParam FALSE), nothing has happened.
static LRESULT OnEndSession(WPARAM ending) {
  if (ending) SaveStateOnce();
  return 0;
}

// Leaving: remember which of our controls had the focus. Coming back: default handling gives
// the window itself the focus, and OnSetFocus passes it on.
static LRESULT OnActivate(HWND window, WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != NULL && IsChild(window, focus)) hwndLastFocus = focus;
  }
  return DefWindowProcA(window, WM_ACTIVATE, wParam, lParam);
}

// A double-click or Enter on a server row; a started game ends the run. Enter comes as
// NM_RETURN, not LVN_ITEMACTIVATE, which a double-click sends as well: that would start the
// game twice.
static LRESULT OnServerActivate(const NMHDR *header) {
  NMITEMACTIVATE activate = {};
  if (header->code == NM_DBLCLK) {
    activate = *(const NMITEMACTIVATE *)header;
  } else {
    activate.hdr = *header;
    activate.iItem = SelectedServerRow();
  }
  if (LaunchSelectedServer(&activate)) SaveAndQuit();
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

static LRESULT OnSetFocus(HWND window) {
  HWND target = hwndLastFocus;
  // A button disabled meanwhile (Refresh during a pass) can't take the focus back.
  if (target == NULL || !IsChild(window, target) || !IsWindowEnabled(target)) target = hwndServerList;
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
    case WM_DPICHANGED: return OnDpiChanged(window, wParam, lParam);
    case WM_DESTROY: return OnDestroy();
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION: return OnEndSession(wParam);
    case WM_ACTIVATE: return OnActivate(window, wParam, lParam);
    case WM_SETFOCUS: return OnSetFocus(window);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
