// The refresh pass: RefreshServers, the coordinator thread and the pass's completion step.
//
// Threading rules of a refresh pass:
// - One pass at a time. RefreshServers claims the pass (passRunning from 0 to 1 in one atomic
//   step) before it touches the lists, the records or the counters, and the completion step
//   gives it back after its last write. While a pass runs, the counters, the records' reply
//   data, the list rows and the sort variables belong to that pass alone.
// - The GUI thread (the thread that owns the server list) never waits for a worker: query
//   threads block in SendMessage until the GUI thread serves them, so a GUI-thread wait would
//   deadlock. A RefreshServers call on the GUI thread while a pass runs (a second click that
//   reaches the button before the coordinator has disabled it) therefore does nothing.
// - A RefreshServers call on any other thread (the master-list merge on the download thread)
//   waits, by polling and at most PASS_WAIT_LIMIT_MS, until the running pass has completed, and
//   then starts its own. The merge claims the pass itself (ClaimPassForMerge) before it
//   rewrites the table and starts that claimed pass afterwards (StartClaimedPass), so neither
//   a running pass nor a Refresh click in between can see a half-merged table.
// - A query thread writes only its own record and publishes it by inserting its row after the
//   last write. The counters change only through Interlocked calls once query threads run, and
//   exactly one call, the one that takes pendingQueries to 0, performs the completion. The
//   coordinator makes that call itself for a query thread it could not create.
// - A coordinator can outlive its pass by its last 50 ms sleep; it never starts more threads
//   than its pass counted, so it cannot reach into the next pass.
// - Workers reach controls only through synchronous messages (SendMessage, EnableWindow). No
//   thread of a pass is ever waited for and there are no locks.
#include "query/query_win.h"

#include <stdio.h>

#include <mmsystem.h>

#include "ui/ui.h"
#include "ui/ui_win.h"

enum {
  QUERY_SPACING_MS = 50,       // at most 20 new queries a second
  PASS_POLL_MS = 10,
  PASS_WAIT_LIMIT_MS = 60000,  // a pass of 64 servers takes about 6.5 s, so this only ends a hang
  STATUS_TEXT_SIZE = 512
};

volatile LONG respondedCount;
volatile LONG playerTotal;
volatile LONG pendingQueries;

HANDLE (*startQueryThread)(ServerRecord *record) = StartQueryThread;

static volatile LONG passRunning;

bool IsPassRunning(void) { return passRunning != 0; }

static bool TryClaimPass(void) { return InterlockedCompareExchange(&passRunning, 1, 0) == 0; }

static void ReleasePass(void) { InterlockedExchange(&passRunning, 0); }

// The lists belong to the GUI thread, so their owner is the thread that must never wait.
static bool IsGuiThread(void) {
  return hwndServerList != NULL && GetWindowThreadProcessId(hwndServerList, NULL) == GetCurrentThreadId();
}

bool WaitForPassToComplete(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (IsPassRunning()) {
    if (IsGuiThread() || GetTickCount() - start >= timeoutMs) return false;
    Sleep(PASS_POLL_MS);
  }
  return true;
}

// The GUI thread gets the pass at once or not at all; other threads wait for it, bounded.
static bool ClaimPass(void) {
  if (TryClaimPass()) return true;
  if (IsGuiThread()) return false;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < PASS_WAIT_LIMIT_MS) {
    Sleep(PASS_POLL_MS);
    if (TryClaimPass()) return true;
  }
  return false;
}

// Empties both lists and every record's reply data before any query thread exists.
static void ResetPassState(void) {
  SendMessageA(hwndServerList, LVM_DELETEALLITEMS, 0, 0);
  SendMessageA(hwndPlayerList, LVM_DELETEALLITEMS, 0, 0);
  playerSortColumn = -1;
  serverSortColumn = -1;
  for (int32_t i = 0; i < serverCount; i++) ResetReplyData(&records[i]);
  pendingQueries = 0;
  respondedCount = 0;
  playerTotal = 0;
}

void RefreshServers(void) {
  if (serverCount == 0) {
    SetStatusText(0, "No servers to query! Try clicking the Update button.");
    return;
  }
  if (!ClaimPass()) return;
  StartClaimedPass();
}

// The merge holds the pass from before it rewrites the table until its own refresh, so no
// Refresh click can start a pass in between.
bool ClaimPassForMerge(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!TryClaimPass()) {
    if (IsGuiThread() || GetTickCount() - start >= timeoutMs) return false;
    Sleep(PASS_POLL_MS);
  }
  return true;
}

void StartClaimedPass(void) {
  if (serverCount == 0) {
    SetStatusText(0, "No servers to query! Try clicking the Update button.");
    ReleasePass();
    return;
  }
  ResetPassState();
  SetStatusText(0, "Refreshing...");
  SetStatusText(1, "0 Players");
  SetStatusText(2, "0 Servers");
  HANDLE coordinator = CreateThread(NULL, 0, QueryAllServers, NULL, 0, NULL);
  if (coordinator == NULL) {
    ReleasePass();  // the pass ends here; "Refreshing..." stays and the button keeps its state
    return;
  }
  CloseHandle(coordinator);
}

HANDLE StartQueryThread(ServerRecord *record) {
  return CreateThread(NULL, 0, QueryServer, record, 0, NULL);
}

// The start after each sleep is due 50 ms after the one before it, counted from the first start,
// so the time spent creating threads does not pile up over a pass of 64.
static void SleepUntil(DWORD due) {
  LONG wait = (LONG)(due - timeGetTime());
  Sleep(wait > 0 ? (DWORD)wait : 0);
}

// pendingQueries holds the whole count before the first start, so no query thread can end the
// pass while others are still to be started. The 1 ms timer resolution is held for the starts
// because with the default 15.6 ms tick each 50 ms sleep lasts up to 62 ms, which would
// stretch a pass of 64 servers by most of a second.
DWORD WINAPI QueryAllServers(LPVOID) {
  const int32_t passSize = serverCount;
  pendingQueries = passSize;
  EnableWindow(hwndRefreshButton, FALSE);
  timeBeginPeriod(1);
  const DWORD firstStart = timeGetTime();
  for (int32_t i = 0; i < serverCount && i < passSize; i++) {
    HANDLE thread = startQueryThread(&records[i]);
    if (thread != NULL) CloseHandle(thread);
    else CompleteQuery();  // the record's query never runs, but its share of the count must go
    SleepUntil(firstStart + QUERY_SPACING_MS * (DWORD)(i + 1));
  }
  timeEndPeriod(1);
  return 0;
}

// The pass is given back only after the last write of its completion, so a waiting merge
// starts its own pass only once this one has set serverSortColumn.
void CompleteQuery(void) {
  if (InterlockedDecrement(&pendingQueries) != 0) return;
  char text[STATUS_TEXT_SIZE];
  LONG responded = respondedCount;
  snprintf(text, sizeof text, "Completed. %d of %d server%s responded.", (int)responded,
           (int)serverCount, PluralSuffix(serverCount));
  SetStatusText(0, text);
  EnableWindow(hwndRefreshButton, TRUE);
  serverSortColumn = 4;
  ReleasePass();
}
