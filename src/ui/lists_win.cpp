// The list views' notifications: texts and images on demand, sorting, the player list.
#include "ui/ui.h"
#include "ui/ui_win.h"

static bool IsRecordIndex(LPARAM index) { return index >= 0 && index < MAX_SERVERS; }

int RowRecordIndex(int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.iSubItem = 0;
  if (!SendMessageA(hwndServerList, LVM_GETITEMA, 0, (LPARAM)&item)) return -1;
  if (item.lParam < 0 || item.lParam >= serverCount) return -1;
  return (int)item.lParam;
}

// False once the player sorts the server list by a column: rows then go in by a sort again.
static bool rowsInPingOrder = true;

// The first row that sorts after the record, by the comparator LVM_SORTITEMS uses: a binary
// search over rows already in that order, each new row going after those of equal ping.
static int PingOrderRow(int recordIndex, int rows) {
  int low = 0, high = rows;
  while (low < high) {
    int middle = low + (high - low) / 2;
    int index = RowRecordIndex(middle);
    if (index >= 0 && CompareServers(index, recordIndex, SERVER_COLUMN_PING) > 0)
      high = middle;
    else
      low = middle + 1;
  }
  return low;
}

static void InsertRowAt(int recordIndex, int row) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = row;
  item.iSubItem = 0;
  item.pszText = LPSTR_TEXTCALLBACKA;
  item.lParam = recordIndex;
  TRACE("insert", recordIndex);
  SendMessageA(hwndServerList, LVM_INSERTITEMA, 0, (LPARAM)&item);
}

// The list view repaints what an insertion moves by itself. A sort redraws everything, so
// redraw is off for the insertion and the sort, and turned on again as WM_SETREDRAW's
// documentation asks for a control with a border and scroll bars.
static void InsertAndSort(int recordIndex, int rows) {
  SendMessageA(hwndServerList, WM_SETREDRAW, FALSE, 0);
  InsertRowAt(recordIndex, rows);
  SendMessageA(hwndServerList, LVM_SORTITEMS, (WPARAM)SERVER_COLUMN_PING, (LPARAM)CompareServers);
  SendMessageA(hwndServerList, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(hwndServerList, NULL, NULL, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
  rowsInPingOrder = true;
}

void InsertServerRow(int recordIndex) {
  int rows = (int)SendMessageA(hwndServerList, LVM_GETITEMCOUNT, 0, 0);
  if (rows == 0) rowsInPingOrder = true;
  if (rowsInPingOrder)
    InsertRowAt(recordIndex, PingOrderRow(recordIndex, rows));
  else
    InsertAndSort(recordIndex, rows);
  TRACE("inserted", recordIndex);
}

// The record the player list shows: the server list's selection mark, or record 0.
static const ServerRecord *ShownRecord(void) {
  int mark = (int)SendMessageA(hwndServerList, LVM_GETSELECTIONMARK, 0, 0);
  int index = mark >= 0 ? RowRecordIndex(mark) : -1;
  return &records[index >= 0 ? index : 0];
}

static void ServerDisplayInfo(NMLVDISPINFOA *info) {
  LVITEMA &item = info->item;
  TRACE("dispinfo", item.iSubItem);
  if (!IsRecordIndex(item.lParam)) return;
  const ServerRecord *record = &records[item.lParam];
  if (item.mask & LVIF_TEXT) FormatServerCell(record, item.iSubItem, item.pszText, item.cchTextMax);
  if (item.iSubItem == SERVER_COLUMN_PING) {
    item.mask |= LVIF_STATE;
    item.state = 0;
    item.stateMask = 0;
    item.iImage = PingImageIndex(record->ping);
  }
}

static void PlayerDisplayInfo(NMLVDISPINFOA *info) {
  LVITEMA &item = info->item;
  if (item.lParam < 0 || item.lParam >= MAX_PLAYERS || !(item.mask & LVIF_TEXT)) return;
  const PlayerEntry *player = &ShownRecord()->players[item.lParam];
  FormatPlayerCell(player, item.iSubItem, item.pszText, item.cchTextMax);
}

int CALLBACK CompareServers(LPARAM a, LPARAM b, LPARAM column) {
  if (!IsRecordIndex(a) || !IsRecordIndex(b)) return 0;
  return CompareServerRecords(&records[a], &records[b], (int)column, serverSortColumn);
}

int CALLBACK ComparePlayers(LPARAM a, LPARAM b, LPARAM column) {
  if (a < 0 || a >= MAX_PLAYERS || b < 0 || b >= MAX_PLAYERS) return 0;
  const ServerRecord *record = ShownRecord();
  return ComparePlayerEntries(&record->players[a], &record->players[b], (int)column, playerSortColumn);
}

// Rows carry the player's index in reply order; their texts come on demand.
static void FillPlayerList(int row) {
  SendMessageA(hwndPlayerList, LVM_DELETEALLITEMS, 0, 0);
  if (row < 0) return;  // the click hit no row
  int index = RowRecordIndex(row);
  if (index < 0) return;
  int32_t count = records[index].playerCount;
  for (int32_t i = 0; i < count && i < MAX_PLAYERS; i++) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
    item.iItem = i;
    item.pszText = LPSTR_TEXTCALLBACKA;
    item.lParam = i;
    SendMessageA(hwndPlayerList, LVM_INSERTITEMA, 0, (LPARAM)&item);
  }
}

void ShowPlayers(const NMITEMACTIVATE *activate) { FillPlayerList(activate->iItem); }

// A selection made without a click (the arrow keys, or a program setting the item state)
// refills the player list as a click would. The player texts, the count and the sort all
// follow the selection mark, so it moves to the row first.
static void ServerItemChanged(const NMLISTVIEW *change) {
  bool nowSelected = (change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED);
  if (!(change->uChanged & LVIF_STATE) || !nowSelected || change->iItem < 0) return;
  SendMessageA(hwndServerList, LVM_SETSELECTIONMARK, 0, change->iItem);
  FillPlayerList(change->iItem);
}

int SelectedServerRow(void) {
  return (int)SendMessageA(hwndServerList, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
}

static void SortColumn(HWND list, int column, PFNLVCOMPARE compare, int32_t *sortColumn) {
  SendMessageA(list, LVM_SORTITEMS, (WPARAM)column, (LPARAM)compare);
  *sortColumn = NextSortColumn(*sortColumn, column);
  if (list == hwndServerList) rowsInPingOrder = false;
}

// Ctrl+C copies the selected row's address, as the menu's Copy Address does.
static void ServerKeyDown(const NMLVKEYDOWN *key) {
  if (key->wVKey == 'C' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0)
    CopyRowAddress(SelectedServerRow());
}

static void ServerListNotify(NMHDR *header) {
  switch (header->code) {
    case LVN_GETDISPINFOA: ServerDisplayInfo((NMLVDISPINFOA *)header); break;
    case LVN_COLUMNCLICK:
      SortColumn(hwndServerList, ((NMLISTVIEW *)header)->iSubItem, CompareServers, &serverSortColumn);
      break;
    case NM_CLICK: ShowPlayers((NMITEMACTIVATE *)header); break;
    case LVN_ITEMCHANGED: ServerItemChanged((NMLISTVIEW *)header); break;
    case LVN_KEYDOWN: ServerKeyDown((NMLVKEYDOWN *)header); break;
  }
}

static void PlayerListNotify(NMHDR *header) {
  switch (header->code) {
    case LVN_GETDISPINFOA: PlayerDisplayInfo((NMLVDISPINFOA *)header); break;
    case LVN_COLUMNCLICK:
      SortColumn(hwndPlayerList, ((NMLISTVIEW *)header)->iSubItem, ComparePlayers, &playerSortColumn);
      break;
  }
}

LRESULT HandleListNotify(WPARAM wParam, LPARAM lParam) {
  NMHDR *header = (NMHDR *)lParam;
  if (wParam == ID_SERVER_LIST)
    ServerListNotify(header);
  else if (wParam == ID_PLAYER_LIST)
    PlayerListNotify(header);
  return 0;
}
