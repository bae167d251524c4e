// Game executable search and game launch (Win32).
#pragma once
#include <windows.h>
#include <commctrl.h>

// True once the game has started: the caller then ends the run. Every failure is reported here.
bool LaunchSelectedServer(const NMITEMACTIVATE *activate);
// Walks C: to Z: and copies the accepted directory into gameDir.
void SearchAllDrives(void);
// Depth-first walk of dir (ending with a backslash); copies the accepted directory into found.
bool SearchGameDir(const char *dir, char *found, size_t foundSize);
