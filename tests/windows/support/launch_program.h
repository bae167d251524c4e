// Driving the real browser program from a test: a server that answers its query, its cache file, its rows and
// boxes.
#pragma once
#include <windows.h>
#include <stdint.h>

#include <string>

// A game server on 127.0.0.1 that answers every status request; stops by itself after lifetimeMs.
bool StartLaunchStatusServer(uint16_t *port, DWORD lifetimeMs);
void StopLaunchStatusServer(void);

// A cache file holding the one record of that server.
bool WriteLaunchCache(const std::string &path, const char *address, uint16_t port);

// The program named by VARNET_BROWSER (or VarnetBrowser.exe beside the test), started in runDir.
bool StartLaunchBrowser(const std::string &runDir, PROCESS_INFORMATION *process);
// Its server list once it shows at least one row; NULL on time-out.
HWND WaitForLaunchBrowserRow(DWORD pid, DWORD timeoutMs);
// Double-clicks the first row the way the mouse would, by the list's own button message.
bool DoubleClickLaunchFirstRow(HWND list);
// A visible message box of that process with that caption, or NULL.
HWND FindLaunchProcessBox(DWORD pid, const char *caption);
std::string LaunchBoxText(HWND box);
void PressLaunchBoxButton(HWND box, int id);
// Waits for the process to end; false on time-out. Gives its exit code.
bool WaitForLaunchExit(HANDLE process, DWORD timeoutMs, DWORD *exitCode);
