// In-process readers for list views, status bars and child windows, as tests see the controls,
// and list clicks as the list's parent receives them.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

std::string ListText(HWND list, int row, int column);
int ListImage(HWND list, int row, int column);
LPARAM ListParam(HWND list, int row);
int ListCount(HWND list);
std::string StatusText(HWND statusBar, int part);
std::string WindowText(HWND window);
std::string ClassName(HWND window);
RECT ChildRect(HWND child);  // in the parent's client coordinates

// Selects the row as a click does (selection mark, and the row's state unless it is -1, a
// click below the rows), then sends the list's NM_CLICK to its parent.
void ClickListRow(HWND list, int row);
// The list's LVN_COLUMNCLICK for the column, sent to its parent.
void ClickListColumn(HWND list, int column);
