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

enum { CLIPBOARD_WAIT_MS = 500, CLIPBOARD_RETRY_MS = 20 };

// Moveable memory holding size bytes of data, as the clipboard takes it; NULL when there is none.
static HGLOBAL ClipboardMemory(const void *data, size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  void *copy = memory != NULL ? GlobalLock(memory) : NULL;
  if (copy == NULL) {
    if (memory != NULL) GlobalFree(memory);
    return NULL;
  }
  memcpy(copy, data, size);
  GlobalUnlock(memory);
  return memory;
}

// The clipboard owns the memory once SetClipboardData has taken it.
static bool SetClipboardMemory(UINT format, HGLOBAL memory) {
  if (memory == NULL) return false;
  if (SetClipboardData(format, memory) != NULL) return true;
  GlobalFree(memory);
  return false;
}

// Another program (a clipboard manager, or rdpclip under Remote Desktop) may hold the clipboard
// open for a moment: it is asked again for up to half a second.
static bool OpenClipboardSoon(void) {
  DWORD start = GetTickCount();
  while (!OpenClipboard(hwndMain)) {
    if (GetTickCount() - start >= CLIPBOARD_WAIT_MS) return false;
    Sleep(CLIPBOARD_RETRY_MS);
  }
  return true;
}

// Both texts are set, so that no program depends on Windows' conversion from the ANSI one.
static bool PlaceClipboardTexts(const char *text) {
  WCHAR wide[ADDRESS_CELL_SIZE];
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, ADDRESS_CELL_SIZE);
  if (length <= 0) return false;
  EmptyClipboard();
  bool unicode = SetClipboardMemory(CF_UNICODETEXT, ClipboardMemory(wide, length * sizeof(WCHAR)));
  return SetClipboardMemory(CF_TEXT, ClipboardMemory(text, strlen(text) + 1)) && unicode;
}

bool PutClipboardText(const char *text) {
  if (!OpenClipboardSoon()) {
    SetStatusText(STATUS_PART_MESSAGE, "Couldn't copy the address: the clipboard is in use.");
    return false;
  }
  bool placed = PlaceClipboardTexts(text);
  CloseClipboard();
  if (!placed) SetStatusText(STATUS_PART_MESSAGE, "Couldn't copy the address.");
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
