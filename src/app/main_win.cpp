// Entry, main window and message loop.
#include "app/app_win.h"

HINSTANCE appInstance;
HWND hwndMain;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int AppMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  appInstance = instance;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = instance;
  wc.lpszClassName = APP_NAME;
  RegisterClassExA(&wc);
  hwndMain = CreateWindowExA(0, APP_NAME, APP_NAME, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             CW_USEDEFAULT, CW_USEDEFAULT, 560, 400, NULL, NULL, instance, NULL);
  if (hwndMain == NULL) return 1;
  ShowWindow(hwndMain, SW_SHOWNORMAL);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return (int)msg.wParam;
}
