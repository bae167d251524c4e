// The refresh pass: coordinator and query threads (Win32).
#pragma once
#include <windows.h>

// The refresh counters of the running pass, changed by query threads only through Interlocked calls.
extern volatile LONG respondedCount;
extern volatile LONG playerTotal;
extern volatile LONG pendingQueries;

void RefreshServers(void);
DWORD WINAPI QueryAllServers(LPVOID unused);
DWORD WINAPI QueryServer(LPVOID record);

// True from RefreshServers until the completion step of its pass.
bool IsPassRunning(void);
// For worker threads only (the GUI thread must never wait): returns once no pass is running,
// or false after timeoutMs.
bool WaitForPassToComplete(DWORD timeoutMs);
