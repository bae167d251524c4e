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

// A row's item data as it is, or -1 when there is no such row.
static LPARAM RowItemData(int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  return SendMessageA(hwndServerList, LVM_GETITEMA, 0, (LPARAM)&item) ? item.lParam : -1;
}

static HWND ServerHeader(void) { return (HWND)SendMessageA(hwndServerList, LVM_GETHEADER, 0, 0); }

void NoteServerPage(ServerPage *page) {
  page->valid = !GetUpdateRect(hwndServerList, NULL, FALSE);
  HWND header = ServerHeader();
  page->headerValid = header != NULL && !GetUpdateRect(header, NULL, FALSE);
  GetClientRect(hwndServerList, &page->client);
  page->top = (int)SendMessageA(hwndServerList, LVM_GETTOPINDEX, 0, 0);
  int perPage = (int)SendMessageA(hwndServerList, LVM_GETCOUNTPERPAGE, 0, 0) + 1;  // and a row cut off
  page->count = perPage < MAX_SERVERS ? perPage : MAX_SERVERS;
  for (int i = 0; i < page->count; i++) page->records[i] = RowItemData(page->top + i);
}

static bool RowBounds(int row, RECT *bounds) {
  *bounds = {};
  bounds->left = LVIR_BOUNDS;
  return SendMessageA(hwndServerList, LVM_GETITEMRECT, (WPARAM)row, (LPARAM)bounds) != 0;
}

static void KeepRow(int row) {
  RECT bounds;
  if (RowBounds(row, &bounds)) ValidateRect(hwndServerList, &bounds);
}

// True when the page row `i` shows the record the row above it showed: one row pushed it down.
static bool PushedDown(const ServerPage *page, int i) {
  return i > 0 && page->records[i - 1] >= 0 && RowItemData(page->top + i) == page->records[i - 1];
}

// A row landing on the page pushes every row below it down by one. Their pixels are on the
// screen one row higher, so they are moved there, as the list view itself does when a row is
// inserted in the middle, rather than drawn again.
static void MovePushedRows(const ServerPage *page, int first) {
  for (int i = first + 1; i < page->count; i++)
    if (RowItemData(page->top + i) >= 0 && !PushedDown(page, i)) return;  // not a push: all are drawn
  RECT from, client;
  if (!RowBounds(page->top + first, &from) || !GetClientRect(hwndServerList, &client)) return;
  RECT area = {client.left, from.top, client.right, client.bottom};
  ScrollWindowEx(hwndServerList, 0, from.bottom - from.top, &area, &area, NULL, NULL, 0);
  for (int i = first + 1; i < page->count; i++)
    if (PushedDown(page, i)) KeepRow(page->top + i);
}

// The column headings and the strip of the list beneath them don't change with a row. Left
// invalid, they would cost a repaint of the header on every answer (4 ms under Wine), and a
// repaint of every row from the top down to the new one, as the list view draws every row its
// update's bounding box touches. A scroll bar that came with the row resized the headings, so
// they are drawn then.
static void KeepHeader(const ServerPage *page, const RECT *client) {
  RECT top, strip = *client;
  if (RowBounds(page->top, &top)) {
    strip.bottom = top.top;
    ValidateRect(hwndServerList, &strip);
  }
  HWND header = ServerHeader();
  if (page->headerValid && EqualRect(client, &page->client))
    ValidateRect(header, NULL);
  else
    InvalidateRect(header, NULL, TRUE);  // the strip may have taken the headings' repaint with it
}

// A scroll bar that came takes its room from the right or the bottom edge: the rows stay where
// they were.
static bool SameOrShrunk(const RECT *was, const RECT *now) {
  return now->left == was->left && now->top == was->top && now->right <= was->right &&
         now->bottom <= was->bottom;
}

// Everything is drawn again when the list scrolled, or when it grew (a scroll bar went).
void KeepUnchangedRows(const ServerPage *page) {
  RECT client;
  if (!page->valid || SendMessageA(hwndServerList, LVM_GETTOPINDEX, 0, 0) != page->top ||
      !GetClientRect(hwndServerList, &client) || !SameOrShrunk(&page->client, &client))
    return;
  int first = 0;
  while (first < page->count && page->records[first] >= 0 &&
         RowItemData(page->top + first) == page->records[first])
    first++;
  if (first < page->count && page->records[first] >= 0) MovePushedRows(page, first);
  // Last, as Wine's ScrollWindowEx marks the rows above the moved ones for a repaint again.
  for (int i = 0; i < first; i++) KeepRow(page->top + i);
  KeepHeader(page, &client);
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
