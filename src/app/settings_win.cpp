// PLACEHOLDER until the settings work lands: keeps the program linking.
#include <winsock2.h>

#include "app/app_win.h"

void ResolveCachePath(void) {}
void LoadCache(void) {}
void LoadSettings(void) {}
void SaveState(void) { WSACleanup(); }
