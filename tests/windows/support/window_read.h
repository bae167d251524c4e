// In-process readers for list views, status bars and child windows, as tests see the controls.
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
