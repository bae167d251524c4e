// In-process readers for list views, status bars and child windows.
#include "window_read.h"

std::string ListText(HWND list, int row, int column) {
  char buffer[512] = "";
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = sizeof buffer;
  SendMessageA(list, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
  return buffer;
}

int ListImage(HWND list, int row, int column) {
  LVITEMA item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = column;
  item.iImage = -100;
  if (!SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)&item)) return -100;
  return item.iImage;
}

LPARAM ListParam(HWND list, int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = -1;
  SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)&item);
  return item.lParam;
}

int ListCount(HWND list) { return (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); }

std::string StatusText(HWND statusBar, int part) {
  char buffer[512] = "";
  LRESULT info = SendMessageA(statusBar, SB_GETTEXTLENGTHA, (WPARAM)part, 0);
  if (LOWORD(info) >= sizeof buffer) return "<too long>";
  SendMessageA(statusBar, SB_GETTEXTA, (WPARAM)part, (LPARAM)buffer);
  return buffer;
}

std::string WindowText(HWND window) {
  char buffer[512] = "";
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

std::string ClassName(HWND window) {
  char buffer[256] = "";
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

RECT ChildRect(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), (POINT *)&r, 2);
  return r;
}

void ClickListRow(HWND list, int row) {
  ListView_SetSelectionMark(list, row);
  if (row >= 0) ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  NMITEMACTIVATE click = {};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = (UINT_PTR)GetDlgCtrlID(list);
  click.hdr.code = NM_CLICK;
  click.iItem = row;
  SendMessageA(GetParent(list), WM_NOTIFY, click.hdr.idFrom, (LPARAM)&click);
}

void ClickListColumn(HWND list, int column) {
  NMLISTVIEW click = {};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = (UINT_PTR)GetDlgCtrlID(list);
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = column;
  SendMessageA(GetParent(list), WM_NOTIFY, click.hdr.idFrom, (LPARAM)&click);
}
