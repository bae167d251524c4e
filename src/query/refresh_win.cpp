// The refresh pass: RefreshServers, the coordinator thread and the pass's completion step.
//
// Threading rules of a refresh pass:
// - One pass at a time. RefreshServers claims the pass (passRunning from 0 to 1 in one atomic
//   step) before it touches the lists, the records or the counters, and the completion step
//   gives it back after its last write. While a pass runs, the counters, the records' reply
//   data, the list rows and the sort variables belong to that pass alone.
// - The GUI thread (the thread that owns the server list) never waits for a worker: query
//   threads block in SendMessage until the GUI thread serves them, so a GUI-thread wait would
//   deadlock. A RefreshServers call on the GUI thread while a pass runs (a click that reaches
//   the button before it has been disabled) therefore does nothing.
// - A pass starts only on the GUI thread (StartClaimedPass): RefreshServers at start-up and for
//   the Refresh button, and the merged list's pass, so no worker ever resets a record that an
//   Exit, a click or a display callback could be reading.
// - The master-list merge, on the Update dialog's download thread, waits by polling, with no
//   time limit, until the running pass has completed (a pass always ends once the GUI thread
//   serves its messages), and claims the next pass in the same step (ClaimPassForMerge). It then
//   has the GUI thread rewrite the table, ends the dialog, and posts WM_APP_PASS
//   (PASS_START_MERGED) to the main window, whose handler starts the claimed pass; a post that
//   fails gives the pass back. Neither a running pass nor a Refresh click in between can see a
//   half-merged table.
// - The pass ends on the GUI thread, after its last row. Every query thread ends with one
//   synchronous WM_APP_PASS message and never counts itself down: PASS_PUBLISH with its answer,
//   or PASS_NO_ANSWER after a time-out, a failed lookup or a send that failed (the coordinator
//   sends it for a query thread it could not create). The handler counts pendingQueries down
//   after showing the row, and the call that takes it to 0 shows the completion text, sets the
//   sort column, gives the pass back and enables Refresh in one step. Messages may be served in
//   any order (a thread can be pre-empted between its answer and its send while a later
//   time-out is served), but the count reaches 0 only once every message has been served, so
//   no row can land after "Completed.", nor in the next pass.
// - The Refresh button's state is set on the GUI thread only, from whether a pass runs: when a
//   pass starts (or fails to start its coordinator) and when it ends. No worker's late
//   EnableWindow can land during the next pass, and nothing on the GUI thread sees a free pass
//   behind a disabled button.
// - An answer reaches the window in one message: the GUI thread inserts the row where its ping
//   belongs (a binary search with the comparator of the sort) and sets the three texts with no
//   repaint between them. The list view moves the rows below and repaints them itself; a list
//   the player sorted by another column meanwhile is sorted by ping again.
// - A query thread writes only its own record and publishes it by its message after the last
//   write. The counters respondedCount and playerTotal change through Interlocked calls.
// - The main window goes only at the end of the run. A query thread whose message can't be
//   sent then counts itself down and, at 0, only gives the pass back: no worker touches a
//   control.
// - The coordinator spaces the starts 50 ms apart from the first (NextQueryStart); one that
//   stalled (the GUI thread busy in the drive search, say) starts again from its late start
//   rather than firing every start it fell behind on at once.
// - A coordinator can outlive its pass by its last 50 ms sleep; it never starts more threads
//   than its pass counted, so it cannot reach into the next pass.
// - Workers reach controls only through synchronous messages (SendMessage). No thread of a pass
//   is ever waited for and there are no locks.
#include "query/query_win.h"

#include <stdio.h>

#include <mmsystem.h>

#include "query/reply.h"
#include "ui/ui.h"
#include "ui/ui_win.h"

enum { PASS_POLL_MS = 10 };

volatile LONG respondedCount;
volatile LONG playerTotal;
volatile LONG pendingQueries;

HANDLE (*startQueryThread)(ServerRecord *record) = StartQueryThread;

static volatile LONG passRunning;
// 1 from ClaimPassForMerge until the main window starts that pass or the post fails: a stray
// WM_APP_PASS can't start a pass nobody claimed.
static volatile LONG mergedPassClaimed;

bool IsPassRunning(void) { return passRunning != 0; }

static bool TryClaimPass(void) { return InterlockedCompareExchange(&passRunning, 1, 0) == 0; }

static void ReleasePass(void) { InterlockedExchange(&passRunning, 0); }

// Every record's reply data, the counters and the sort order, before any thread of the pass
// exists. The lists are emptied after the coordinator's start (EmptyLists): no row of the pass
// can reach them before the GUI thread is back in its message loop.
static void ResetPassState(void) {
  playerSortColumn = -1;
  serverSortColumn = -1;
  for (int32_t i = 0; i < serverCount; i++) ResetReplyData(&records[i]);
  pendingQueries = 0;
  respondedCount = 0;
  playerTotal = 0;
}

// Under Wine an emptied list lays out its scroll bar and headings anew, which takes a few
// milliseconds that the coordinator's start no longer waits for.
static void EmptyLists(void) {
  SendMessageA(hwndServerList, LVM_DELETEALLITEMS, 0, 0);
  SendMessageA(hwndPlayerList, LVM_DELETEALLITEMS, 0, 0);
}

void RefreshServers(void) {
  if (serverCount == 0) {
    SetStatusText(STATUS_PART_MESSAGE, "No servers to query! Try clicking the Update button.");
    return;
  }
  if (!TryClaimPass()) return;  // a pass runs: the GUI thread never waits for it
  StartClaimedPass();
}

// The merge holds the pass from before it rewrites the table until its own refresh, so no
// Refresh click can start a pass in between. A downloaded list is never dropped, so the wait
// has no limit: the running pass ends once its query threads' messages are served.
void ClaimPassForMerge(void) {
  while (!TryClaimPass()) Sleep(PASS_POLL_MS);
  InterlockedExchange(&mergedPassClaimed, 1);
}

void StartMergedPass(void) {
  HWND window = hwndMain;
  if (window != NULL && PostMessageA(window, WM_APP_PASS, PASS_START_MERGED, 0)) return;
  InterlockedExchange(&mergedPassClaimed, 0);
  ReleasePass();  // no pass will start: Refresh must find it free
}

// On the GUI thread. EnableWindow from a worker could land after the next pass has disabled
// the button; decided here, the state always matches the pass.
static void SyncRefreshButton(void) { EnableWindow(hwndRefreshButton, !IsPassRunning()); }

// The completion text and the sort column are set here, on the GUI thread, in the same step that
// gives the pass back: no repaint runs between them, and the last query thread waits only once.
static void ShowCompletion(void) {
  char text[STATUS_TEXT_SIZE];
  LONG responded = respondedCount;
  snprintf(text, sizeof text, "Completed. %d of %d server%s responded.", (int)responded, (int)serverCount,
           PluralSuffix(serverCount));
  TRACE("completion-text", 0);
  SetStatusText(STATUS_PART_MESSAGE, text);
  TRACE("completion-text-set", 0);
  serverSortColumn = SERVER_COLUMN_PING;
}

// On the GUI thread, the pass's last step: the completion text, the pass given back and Refresh
// enabled, with nothing in between.
static void EndPass(void) {
  ShowCompletion();
  ReleasePass();
  SyncRefreshButton();
  TRACE("button-enabled", 0);
#ifdef VARNET_TRACE
  WriteTrace();
#endif
}

// On the GUI thread, after the query's row if it has one: every row of the pass is in before the
// count can reach 0, whatever order the query threads' messages are served in.
static void CountDownQuery(void) {
  if (InterlockedDecrement(&pendingQueries) == 0) EndPass();
}

void CompleteQueryWithoutWindow(void) {
  if (InterlockedDecrement(&pendingQueries) == 0) ReleasePass();
}

LRESULT HandlePassMessage(WPARAM operation, LPARAM data) {
  if (operation == PASS_PUBLISH) {
    TRACE("answer-in", 0);
    HoldStatusBar(true);
    ShowAnswer((const PublishedAnswer *)data);
    CountDownQuery();
    HoldStatusBar(false);
    TRACE("answer-out", 0);
    return TRUE;
  }
  if (operation == PASS_NO_ANSWER) {
    CountDownQuery();
    return TRUE;
  }
  if (operation == PASS_START_MERGED && InterlockedExchange(&mergedPassClaimed, 0) == 1) StartClaimedPass();
  return 0;
}

void StartClaimedPass(void) {
  if (serverCount == 0) {
    SetStatusText(STATUS_PART_MESSAGE, "No servers to query! Try clicking the Update button.");
    ReleasePass();
    return;
  }
  TRACE("start-pass", 0);
  ResetPassState();
  // The coordinator starts before the lists are emptied and the texts and the button are set,
  // so that starting it and its first query thread overlaps the window's own work. Nothing of
  // the pass reaches the window before this function returns: the query threads' messages wait
  // for the GUI thread.
  HANDLE coordinator = CreateThread(NULL, 0, QueryAllServers, NULL, 0, NULL);
  TRACE("coordinator-created", 0);
  EmptyLists();
  HoldStatusBar(true);
  SetStatusText(STATUS_PART_MESSAGE, "Refreshing...");
  SetStatusText(STATUS_PART_PLAYERS, "0 Players");
  SetStatusText(STATUS_PART_SERVERS, "0 Servers");
  HoldStatusBar(false);
  if (coordinator == NULL)
    ReleasePass();  // the pass ends here; "Refreshing..." stays and Refresh can be pressed again
  else
    CloseHandle(coordinator);
  SyncRefreshButton();
  TRACE("button-disabled", 0);
}

HANDLE StartQueryThread(ServerRecord *record) { return CreateThread(NULL, 0, QueryServer, record, 0, NULL); }

static void SleepUntil(DWORD due) {
  LONG wait = (LONG)(due - timeGetTime());
  Sleep(wait > 0 ? (DWORD)wait : 0);
}

// pendingQueries holds the whole count before the first start, so no query can end the pass
// while others are still to be started. The 1 ms timer resolution is held for the starts
// because with the default 15.6 ms tick each 50 ms sleep lasts up to 62 ms, which would
// stretch a pass of 64 servers by most of a second.
DWORD WINAPI QueryAllServers(LPVOID) {
  TRACE("coordinator-runs", 0);
  const int32_t passSize = serverCount;
  pendingQueries = passSize;
  timeBeginPeriod(1);
  DWORD due = timeGetTime();
  for (int32_t i = 0; i < serverCount && i < passSize; i++) {
    DWORD started = timeGetTime();  // before the thread is created, so its cost doesn't pile up
    TRACE("create-query", i);
    HANDLE thread = startQueryThread(&records[i]);
    TRACE("query-created", i);
    if (thread != NULL)
      CloseHandle(thread);
    else
      CompleteQuery();  // the record's query never runs, but its share of the count must go
    due = NextQueryStart(due, started);
    SleepUntil(due);
  }
  timeEndPeriod(1);
  return 0;
}

// The GUI thread ends the pass once it has served every query's message; the main window has
// gone only at the end of the run, when no control is touched any more.
void CompleteQuery(void) {
  TRACE("complete", 0);
  HWND window = hwndMain;
  if (window != NULL && SendMessageA(window, WM_APP_PASS, PASS_NO_ANSWER, 0)) return;
  CompleteQueryWithoutWindow();
}
