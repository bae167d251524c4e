// The server list's context menu and the copy of a server's address to the clipboard.
#include <windowsx.h>

#include <string.h>

#include "ui/ui_win.h"

// The keyboard's menu opens at the selected row's text, brought into view first.
static int KeyboardMenuRow(POINT *at) {
  int row = SelectedServerRow();
  if (row < 0) return -1;
  SendMessageA(hwndServerList, LVM_ENSUREVISIBLE, (WPARAM)row, FALSE);
  RECT rect = {};
  rect.left = LVIR_LABEL;
  if (!SendMessageA(hwndServerList, LVM_GETITEMRECT, (WPARAM)row, (LPARAM)&rect)) return -1;
  at->x = rect.left;
  at->y = rect.bottom;
  ClientToScreen(hwndServerList, at);
  return row;
}

int ServerMenuRow(LPARAM point, POINT *at) {
  if (GET_X_LPARAM(point) == -1 && GET_Y_LPARAM(point) == -1) return KeyboardMenuRow(at);
  at->x = GET_X_LPARAM(point);
  at->y = GET_Y_LPARAM(point);
  LVHITTESTINFO hit = {};
  hit.pt = *at;
  ScreenToClient(hwndServerList, &hit.pt);
  int row = (int)SendMessageA(hwndServerList, LVM_HITTEST, 0, (LPARAM)&hit);
  return row >= 0 && (hit.flags & LVHT_ONITEM) ? row : -1;  // the empty space below the rows
}

int TrackServerMenu(HWND owner, POINT at) {
  HMENU menu = CreatePopupMenu();
  if (menu == NULL) return 0;
  AppendMenuA(menu, MF_STRING, IDM_CONNECT, "&Connect");
  AppendMenuA(menu, MF_STRING, IDM_COPY_ADDRESS, "Copy &Address");
  SetMenuDefaultItem(menu, IDM_CONNECT, FALSE);  // drawn bold: what a double-click does
  UINT flags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON;
  int command = (int)TrackPopupMenu(menu, flags, at.x, at.y, 0, owner, NULL);
  DestroyMenu(menu);
  return command;
}

// The clipboard owns the memory once SetClipboardData has taken it.
bool PutClipboardText(const char *text) {
  size_t size = strlen(text) + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (memory == NULL) return false;
  char *copy = (char *)GlobalLock(memory);
  if (copy == NULL) {
    GlobalFree(memory);
    return false;
  }
  memcpy(copy, text, size);
  GlobalUnlock(memory);
  bool placed = false;
  if (OpenClipboard(hwndMain)) {
    EmptyClipboard();
    placed = SetClipboardData(CF_TEXT, memory) != NULL;
    CloseClipboard();
  }
  if (!placed) GlobalFree(memory);
  return placed;
}

bool RowAddressText(int row, char *text, int size) {
  int index = row >= 0 ? RowRecordIndex(row) : -1;
  if (index < 0) return false;
  return FormatServerCell(&records[index], SERVER_COLUMN_ADDRESS, text, size);
}

bool CopyRowAddress(int row) {
  char address[ADDRESS_CELL_SIZE];
  return RowAddressText(row, address, sizeof address) && PutClipboardText(address);
}

int FindServerRow(int index, const char *address) {
  LVFINDINFOA find = {};
  find.flags = LVFI_PARAM;
  find.lParam = index;
  int row = (int)SendMessageA(hwndServerList, LVM_FINDITEMA, (WPARAM)-1, (LPARAM)&find);
  char shown[ADDRESS_CELL_SIZE];
  if (row < 0 || !RowAddressText(row, shown, sizeof shown) || strcmp(shown, address) != 0) return -1;
  return row;
}
