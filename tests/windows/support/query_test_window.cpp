// The query tests' window: real list views, status bar and button, each subclassed to log.
#include "query_test_window.h"

#include <stdio.h>
#include <string.h>

#include <mmsystem.h>

#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "pump.h"
#include "query/query_win.h"
#include "table/table.h"
#include "ui/ui.h"

QueryEvent queryEvents[QUERY_EVENT_LIMIT];
int queryEventCount;
volatile LONG passMessagesServed;
void (*onRefreshEnabled)(void);

static WNDPROC statusBarProc, serverListProc, buttonProc;

// Every logged message runs on the GUI thread, so the log needs no lock.
static QueryEvent *NewEvent(int kind) {
  if (queryEventCount >= QUERY_EVENT_LIMIT) return NULL;
  QueryEvent *event = &queryEvents[queryEventCount++];
  memset(event, 0, sizeof *event);
  event->kind = kind;
  event->serverSortColumn = serverSortColumn;
  event->buttonEnabled = IsWindowEnabled(hwndRefreshButton) != FALSE;
  event->rowCount = ServerRowCount();
  event->time = timeGetTime();
  return event;
}

static LRESULT CALLBACK StatusBarLogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SB_SETTEXTA) {
    QueryEvent *event = NewEvent(QUERY_EVENT_STATUS);
    if (event != NULL) {
      event->wParam = wParam;
      snprintf(event->text, sizeof event->text, "%s", lParam ? (const char *)lParam : "<null>");
    }
  }
  return CallWindowProcA(statusBarProc, window, message, wParam, lParam);
}

static bool RowsAscendingByPing(void) {
  int rows = ServerRowCount();
  for (int row = 1; row < rows; row++) {
    LPARAM a = ServerRowRecord(row - 1), b = ServerRowRecord(row);
    if (a < 0 || a >= MAX_SERVERS || b < 0 || b >= MAX_SERVERS) return false;
    if (records[a].ping > records[b].ping) return false;
  }
  return true;
}

static LRESULT CALLBACK ServerListLogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == LVM_INSERTITEMA) {
    QueryEvent *event = NewEvent(QUERY_EVENT_INSERT);
    LRESULT row = CallWindowProcA(serverListProc, window, message, wParam, lParam);
    if (event != NULL) {
      event->item = *(const LVITEMA *)lParam;
      event->result = (int)row;
      event->rowsAscendingByPing = RowsAscendingByPing();
    }
    return row;
  }
  if (message == LVM_SORTITEMS) {
    QueryEvent *event = NewEvent(QUERY_EVENT_SORT);
    LRESULT result = CallWindowProcA(serverListProc, window, message, wParam, lParam);
    if (event != NULL) {
      event->wParam = wParam;
      event->lParam = lParam;
      event->rowsAscendingByPing = RowsAscendingByPing();
    }
    return result;
  }
  return CallWindowProcA(serverListProc, window, message, wParam, lParam);
}

static LRESULT CALLBACK ButtonLogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ENABLE) {
    QueryEvent *event = NewEvent(QUERY_EVENT_ENABLE);
    if (event != NULL) event->buttonEnabled = wParam != FALSE;
  }
  LRESULT result = CallWindowProcA(buttonProc, window, message, wParam, lParam);
  if (message == WM_ENABLE && wParam && onRefreshEnabled) onRefreshEnabled();
  return result;
}

static LRESULT CALLBACK TestMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY) return HandleListNotify(wParam, lParam);
  if (message == WM_APP_PASS) {
    LRESULT result = HandlePassMessage(wParam, lParam);
    passMessagesServed++;
    return result;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateList(int id, int y, int columns) {
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL;
  HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", style, 0, y, 540, 150, hwndMain, (HMENU)(INT_PTR)id,
                              GetModuleHandleA(NULL), NULL);
  for (int i = 0; i < columns; i++) {
    LVCOLUMNA column = {};
    column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.cx = 100;
    char header[16];
    snprintf(header, sizeof header, "Column %d", i);
    column.pszText = header;
    column.iSubItem = i;
    SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column);
  }
  return list;
}

static void CreateControls(void) {
  hwndServerList = CreateList(ID_SERVER_LIST, 0, SERVER_COLUMNS);
  hwndPlayerList = CreateList(ID_PLAYER_LIST, 160, PLAYER_COLUMNS);
  hwndRefreshButton = CreateWindowExA(0, "Button", "Refresh", WS_CHILD | WS_VISIBLE, 0, 320, 80, 24, hwndMain,
                                      (HMENU)(INT_PTR)ID_REFRESH, GetModuleHandleA(NULL), NULL);
  hwndStatusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwndMain, NULL,
                                  GetModuleHandleA(NULL), NULL);
  int edges[STATUS_PARTS] = {300, 420, -1};
  SendMessageA(hwndStatusBar, SB_SETPARTS, STATUS_PARTS, (LPARAM)edges);
  statusBarProc = (WNDPROC)SetWindowLongPtrA(hwndStatusBar, GWLP_WNDPROC, (LONG_PTR)StatusBarLogProc);
  serverListProc = (WNDPROC)SetWindowLongPtrA(hwndServerList, GWLP_WNDPROC, (LONG_PTR)ServerListLogProc);
  buttonProc = (WNDPROC)SetWindowLongPtrA(hwndRefreshButton, GWLP_WNDPROC, (LONG_PTR)ButtonLogProc);
}

bool CreateQueryTestWindow(void) {
  if (hwndMain != NULL) return true;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = TestMainProc;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.lpszClassName = "QueryTestWindow";
  RegisterClassExA(&windowClass);
  appInstance = GetModuleHandleA(NULL);
  hwndMain = CreateWindowExA(0, "QueryTestWindow", "Query test", WS_OVERLAPPEDWINDOW, 0, 0, 560, 400, NULL,
                             NULL, GetModuleHandleA(NULL), NULL);
  if (hwndMain == NULL) return false;
  CreateControls();
  ShowWindow(hwndMain, SW_SHOWNOACTIVATE);
  return hwndServerList != NULL && hwndPlayerList != NULL && hwndStatusBar != NULL &&
         hwndRefreshButton != NULL;
}

void ResetQueryTestWindow(void) {
  SendMessageA(hwndServerList, LVM_DELETEALLITEMS, 0, 0);
  SendMessageA(hwndPlayerList, LVM_DELETEALLITEMS, 0, 0);
  for (int part = 0; part < STATUS_PARTS; part++) {
    SendMessageA(hwndStatusBar, SB_SETTEXTA, (WPARAM)part, (LPARAM) "");
  }
  EnableWindow(hwndRefreshButton, TRUE);
  queryEventCount = 0;
}

std::vector<std::string> StatusTexts(int part, const std::string &fragment) {
  std::vector<std::string> texts;
  for (int i = 0; i < queryEventCount; i++) {
    const QueryEvent &event = queryEvents[i];
    if (event.kind != QUERY_EVENT_STATUS || (int)event.wParam != part) continue;
    if (strstr(event.text, fragment.c_str()) != NULL) texts.push_back(event.text);
  }
  return texts;
}

int FindStatus(int part, const std::string &text, int from) {
  for (int i = from < 0 ? 0 : from; i < queryEventCount; i++) {
    const QueryEvent &event = queryEvents[i];
    if (event.kind == QUERY_EVENT_STATUS && (int)event.wParam == part && text == event.text) return i;
  }
  return -1;
}

int CountStatus(int part, const std::string &text) {
  int count = 0;
  for (int i = FindStatus(part, text); i >= 0; i = FindStatus(part, text, i + 1)) count++;
  return count;
}

int FindEvent(int kind, int from) {
  for (int i = from < 0 ? 0 : from; i < queryEventCount; i++) {
    if (queryEvents[i].kind == kind) return i;
  }
  return -1;
}

std::string StatusBarText(int part) {
  char text[QUERY_EVENT_TEXT_SIZE] = "";
  LRESULT length = SendMessageA(hwndStatusBar, SB_GETTEXTLENGTHA, (WPARAM)part, 0);
  if (LOWORD(length) >= sizeof text) return "<too long>";
  SendMessageA(hwndStatusBar, SB_GETTEXTA, (WPARAM)part, (LPARAM)text);
  return text;
}

int ServerRowCount(void) { return (int)SendMessageA(hwndServerList, LVM_GETITEMCOUNT, 0, 0); }

int PlayerRowCount(void) { return (int)SendMessageA(hwndPlayerList, LVM_GETITEMCOUNT, 0, 0); }

LPARAM ServerRowRecord(int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageA(hwndServerList, LVM_GETITEMA, 0, (LPARAM)&item)) return -1;
  return item.lParam;
}

std::string ServerCellText(int row, int column) {
  char text[TEXT_FIELD_SIZE + 16] = "";
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = (int)sizeof text;
  SendMessageA(hwndServerList, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
  return text;
}

void AddPlayerRow(void) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = PlayerRowCount();
  item.pszText = (LPSTR) "someone";
  SendMessageA(hwndPlayerList, LVM_INSERTITEMA, 0, (LPARAM)&item);
}

void UseServers(const char *const *addresses, const uint16_t *ports, int count) {
  memset(records, 0, sizeof records);
  serverCount = 0;
  for (int i = 0; i < count; i++) AppendServer(addresses[i], ports[i]);
}

// The completion enables Refresh after it has given the pass back, so a pass is over once the
// pass is free and the button's last change, if the pass made one, has enabled it.
static bool PassOver(void) {
  if (IsPassRunning()) return false;
  int last = -1;
  for (int i = FindEvent(QUERY_EVENT_ENABLE); i >= 0; i = FindEvent(QUERY_EVENT_ENABLE, i + 1)) last = i;
  return last < 0 || queryEvents[last].buttonEnabled;
}

bool RunPass(DWORD timeoutMs) {
  RefreshServers();
  return PumpUntil(PassOver, timeoutMs);
}

void SettlePass(void) {
  PumpUntil(PassOver, 10000);
  PumpFor(120);  // a coordinator lives 50 ms past its last start
}
