// Entry, main window, message loop, start-up and shut-down (Win32): the top of the program.
#pragma once
#include <windows.h>

#define WM_APP_INIT (WM_USER + 1)

int AppMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
void RegisterMainClass(void);
HWND CreateMainWindow(void);
LRESULT InitializeApp(void);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// True once SaveAndQuit has run: whatever runs a loop of its own (the drive search) stops.
extern bool runEnding;

// The registry settings, the cache file and the end of Winsock, in that order.
void SaveState(void);
// SaveState, then the quit message; a later WM_DESTROY does not save again.
void SaveAndQuit(void);
