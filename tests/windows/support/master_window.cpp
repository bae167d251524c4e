// A stand-in main window for the update tests, and the update dialog driven as a user drives it.
#include "master_window.h"

#include <commctrl.h>
#include <string.h>

#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "pump.h"
#include "master/master_win.h"
#include "query/query_win.h"
#include "table/table.h"
#include "resource.h"
#include "window_read.h"

namespace {

enum { WATCH_TIMER = 4711, WATCH_PERIOD_MS = 10 };

std::vector<UpdateStep> steps;
std::vector<MergeStep> merges;
std::function<void(const DialogView &)> watcher;
DWORD watchStart, watchLimit;
bool *watchTimedOut;
WNDPROC statusBarProc;

bool CarriesText(int operation) { return operation == UPDATE_SET_STATUS || operation == UPDATE_SET_BUTTON; }

LRESULT RecordUpdateStep(WPARAM wParam, LPARAM lParam) {
  UpdateStep step = {};
  step.operation = (int)wParam;
  step.value = lParam;
  if (CarriesText(step.operation) && lParam != 0) step.text = (const char *)lParam;
  // A merge holds the pass while it rewrites the table; query threads are in flight only while
  // some of the pass are still pending.
  step.passRunning = IsPassRunning() && pendingQueries > 0;
  HWND dialog = hwndUpdateDialog;
  step.before = ViewUpdateDialog(dialog);
  LRESULT result = HandleUpdateDialogMessage(wParam, lParam);
  step.applied = result != 0;
  step.after = ViewUpdateDialog(IsWindow(dialog) ? dialog : NULL);
  steps.push_back(step);
  return result;
}

LRESULT RecordMerge(LPARAM lParam) {
  MergeStep step = {};
  step.threadId = GetCurrentThreadId();
  step.countBefore = serverCount;
  LRESULT result = HandleMergeMessage(lParam);
  step.countAfter = serverCount;
  step.serverRows = ListCount(hwndServerList);
  step.playerRows = ListCount(hwndPlayerList);
  merges.push_back(step);
  return result;
}

// A pass shows "Refreshing..." as it starts; InSendMessage tells that a worker thread sent it.
LRESULT CALLBACK StatusBarWatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SB_SETTEXTA && lParam != 0 && strcmp((const char *)lParam, "Refreshing...") == 0 &&
      !merges.empty()) {
    merges.back().passStarts++;
    merges.back().passStartedByWorker |= InSendMessage() != FALSE;
  }
  return CallWindowProcA(statusBarProc, window, message, wParam, lParam);
}

void Watch(void) {
  HWND dialog = hwndUpdateDialog;
  if (dialog == NULL) return;
  if (GetTickCount() - watchStart > watchLimit) {
    if (watchTimedOut) *watchTimedOut = true;
    EndDialog(dialog, 0);
    return;
  }
  if (watcher) watcher(ViewUpdateDialog(dialog));
}

LRESULT CALLBACK MasterTestWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_APP_UPDATE_DIALOG: return RecordUpdateStep(wParam, lParam);
    case WM_APP_MERGE_LIST: return RecordMerge(lParam);
    case WM_APP_PASS: return HandlePassMessage(wParam, lParam);
    case WM_NOTIFY: return HandleListNotify(wParam, lParam);
    case WM_TIMER:
      if (wParam == WATCH_TIMER) Watch();
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool CreateMasterTestWindow(void) {
  if (hwndMain != NULL) return true;
  appInstance = GetModuleHandleA(NULL);
  InitCommonControls();
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MasterTestWndProc;
  wc.hInstance = appInstance;
  wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
  wc.lpszClassName = "VarnetMasterTest";
  RegisterClassExA(&wc);
  hwndMain = CreateWindowExA(0, "VarnetMasterTest", "Varnet Server Browser",
                             WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 40, 40, 560, 400, NULL, NULL,
                             appInstance, NULL);
  if (hwndMain == NULL) return false;
  hwndServerList = CreateMainControls(hwndMain, appInstance);
  statusBarProc = (WNDPROC)SetWindowLongPtrA(hwndStatusBar, GWLP_WNDPROC, (LONG_PTR)StatusBarWatchProc);
  ShowWindow(hwndMain, SW_SHOWNORMAL);
  UpdateWindow(hwndMain);
  return hwndServerList != NULL && hwndStatusBar != NULL;
}

const std::vector<UpdateStep> &UpdateSteps(void) { return steps; }

const std::vector<MergeStep> &MergeSteps(void) { return merges; }

void ClearUpdateSteps(void) {
  steps.clear();
  merges.clear();
}

DialogView ViewUpdateDialog(HWND dialog) {
  DialogView view = {dialog, "", -1, 0, 0, ""};
  if (dialog == NULL) return view;
  view.status = WindowText(GetDlgItem(dialog, IDC_UPDATE_STATUS));
  view.position = (int)SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0);
  PBRANGE range = {};
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETRANGE, TRUE, (LPARAM)&range);
  view.rangeLow = range.iLow;
  view.rangeHigh = range.iHigh;
  view.button = WindowText(GetDlgItem(dialog, IDC_ABORT));
  return view;
}

void RunUpdateDialog(const std::function<void(const DialogView &)> &watch, DWORD limitMs, bool *timedOut) {
  watcher = watch;
  watchStart = GetTickCount();
  watchLimit = limitMs;
  watchTimedOut = timedOut;
  if (timedOut) *timedOut = false;
  SetTimer(hwndMain, WATCH_TIMER, WATCH_PERIOD_MS, NULL);
  DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_UPDATE), hwndMain, UpdateDialogProc, 0);
  KillTimer(hwndMain, WATCH_TIMER);
  watcher = nullptr;
}

// The dialog manager turns Escape into IDCANCEL and Enter into the default command.
void PressDialogKey(HWND dialog, WPARAM key) {
  HWND focus = GetFocus();
  HWND target = (focus != NULL && IsChild(dialog, focus)) ? focus : GetDlgItem(dialog, IDC_ABORT);
  PostMessageA(target, WM_KEYDOWN, key, 1);
  PostMessageA(target, WM_KEYUP, key, (LPARAM)0xC0000001);
}

void ClickDialogButton(HWND dialog) { PostMessageA(GetDlgItem(dialog, IDC_ABORT), BM_CLICK, 0, 0); }

void ClickCloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool ResetMasterTestWindow(void) {
  if (!PumpUntil([] { return !IsUpdateRunning() && !IsPassRunning(); }, 30000)) return false;
  PumpFor(100);  // a coordinator may outlive its pass by its last sleep
  memset(records, 0, sizeof records);
  serverCount = 0;
  SendMessageA(hwndServerList, LVM_DELETEALLITEMS, 0, 0);
  SetStatusText(0, MASTER_TEST_SENTINEL);
  ClearUpdateSteps();
  InterlockedExchange(&parsedBodyTotal, -7);
  InterlockedExchange(&parsedTextLength, -7);
  return true;
}
