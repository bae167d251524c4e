// Timing stamps of a refresh pass, for a build made with VARNET_TRACE; written after each pass.
#include "ui/ui_win.h"

#ifdef VARNET_TRACE
#include <stdio.h>

enum { MAX_STAMPS = 32768 };

struct TraceStamp {
  LONGLONG counter;
  DWORD thread;
  const char *what;
  int value;
};

static TraceStamp stamps[MAX_STAMPS];
static volatile LONG stampCount;

void Trace(const char *what, int value) {
  LONG slot = InterlockedIncrement(&stampCount) - 1;
  if (slot >= MAX_STAMPS) return;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  stamps[slot] = {now.QuadPart, GetCurrentThreadId(), what, value};
}

// 1 server list, 2 player list, 3 status bar, 4 main window, 5 Refresh, 6 a list's header, 0 other.
int TraceWindowKind(HWND window) {
  if (window == hwndServerList) return 1;
  if (window == hwndPlayerList) return 2;
  if (window == hwndStatusBar) return 3;
  if (window == hwndMain) return 4;
  if (window == hwndRefreshButton) return 5;
  if (GetParent(window) == hwndServerList || GetParent(window) == hwndPlayerList) return 6;
  return 0;
}

// On the GUI thread once the pass has completed: the pass's stamps in microseconds from the first.
void WriteTrace(void) {
  LONG count = stampCount < (LONG)MAX_STAMPS ? stampCount : (LONG)MAX_STAMPS;
  FILE *file = fopen("varnet-trace.txt", "a");
  if (file == NULL || count == 0) {
    if (file != NULL) fclose(file);
    return;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  fprintf(file, "pass\n");
  for (LONG i = 0; i < count; i++)
    fprintf(file, "%lld %lu %s %d\n", (stamps[i].counter - stamps[0].counter) * 1000000 / frequency.QuadPart,
            (unsigned long)stamps[i].thread, stamps[i].what, stamps[i].value);
  fclose(file);
  stampCount = 0;
}
#endif
