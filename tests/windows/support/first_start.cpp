// A fresh main window of the program for each test, as at a first start.
#include "first_start.h"

#include <windows.h>
#include <commctrl.h>

#include <string.h>

#include "settings/settings.h"
#include "app/app_win.h"
#include "pump.h"
#include "query/query_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "window_read.h"

static void EnterFolder(const char *folder) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  strncat(dir, folder, sizeof dir - strlen(dir) - 1);
  CreateDirectoryA(dir, NULL);
  SetCurrentDirectoryA(dir);
}

// Its pass ends first (a coordinator outlives the pass by its last 50 ms start); the window's
// end saves the table and quits, and both are undone so the next window starts afresh.
static void CloseEarlierWindow(void) {
  if (hwndMain == NULL || !IsWindow(hwndMain)) return;
  PumpUntil([] { return !IsPassRunning(); }, 20000);
  PumpFor(100);
  DestroyWindow(hwndMain);
  MSG quit;
  PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
}

bool OpenFirstStartWindow(const char *folder) {
  static bool registered;
  CloseEarlierWindow();
  EnterFolder(folder);
  if (!registered) {
    appInstance = GetModuleHandleA(NULL);
    RegisterMainClass();
    InitCommonControls();
    registered = true;
  }
  ResolveCachePath();
  DeleteFileA(CACHE_FILE_NAME);
  hwndStatusBar = NULL;
  if (CreateMainWindow() == NULL) return false;
  PostMessageA(hwndMain, WM_APP_INIT, 0, 0);
  return PumpUntil([] { return hwndStatusBar && StatusText(hwndStatusBar, 0) == FIRST_START_HINT; }, 10000);
}
