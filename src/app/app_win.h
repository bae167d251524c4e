// Entry, main window, start-up, shut-down and the registry settings (Win32).
#pragma once
#include <windows.h>

#define APP_NAME "Varnet Server Browser"
#define SETTINGS_KEY "SOFTWARE\\tallow\\Varnet Server Browser"
#define WM_APP_INIT (WM_USER + 1)

extern HINSTANCE appInstance;
extern HWND hwndMain;

int AppMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
void RegisterMainClass(void);
HWND CreateMainWindow(void);
LRESULT InitializeApp(void);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Resolves the cache file's full path in the start-up directory.
void ResolveCachePath(void);
void LoadCache(void);
void LoadSettings(void);
void SaveState(void);
// SaveState, then the quit message; a later WM_DESTROY does not save again.
void SaveAndQuit(void);

// Registry seams: the roots are parameters so tests can stand in an unwritable machine key.
void LoadSettingsFrom(HKEY machineRoot, HKEY userRoot);
void SaveSettingsTo(HKEY machineRoot, HKEY userRoot);
