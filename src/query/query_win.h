// The refresh pass: coordinator and query threads (Win32).
#pragma once
#include <windows.h>

#include "table/table.h"

// The refresh counters of the running pass, changed by query threads only through Interlocked calls.
extern volatile LONG respondedCount;
extern volatile LONG playerTotal;
extern volatile LONG pendingQueries;

// On the GUI thread: starts a pass, or does nothing while one runs.
void RefreshServers(void);
DWORD WINAPI QueryAllServers(LPVOID unused);
DWORD WINAPI QueryServer(LPVOID record);

// True from RefreshServers until the completion step of its pass.
bool IsPassRunning(void);
// For the master-list merge on its download thread, never the GUI thread: waits, with no time
// limit, until no pass runs and claims the next one in the same step; the caller has the
// table rewritten, then has that pass started with StartMergedPass.
void ClaimPassForMerge(void);
// On the GUI thread: starts the pass that RefreshServers or ClaimPassForMerge claimed.
void StartClaimedPass(void);
// For the download thread once the merge is done and the dialog ended: asks the main window
// to start the claimed pass on the GUI thread, or gives the pass back when it can't ask.
void StartMergedPass(void);

// Posted or sent to the main window, whose procedure answers it with HandlePassMessage on the
// GUI thread; wParam is one of the PassOperation values.
#define WM_APP_PASS (WM_APP + 18)
enum PassOperation {
  PASS_START_MERGED = 1,  // start the pass ClaimPassForMerge claimed
  PASS_COMPLETE,          // the completion step: its text, then give the pass back, enable Refresh
  PASS_PUBLISH            // show an answer; lParam the PublishedAnswer
};
LRESULT HandlePassMessage(WPARAM operation, LPARAM data);

// An answering server's row index (from respondedCount) and its "Found" text, for the GUI thread;
// completesPass when its completion step took pendingQueries to 0.
struct PublishedAnswer {
  const ServerRecord *record;
  LONG row;
  const char *foundText;
  bool completesPass;
};
// On the GUI thread: inserts the answer's row, re-sorts the list by ping and sets the three texts.
void ShowAnswer(const PublishedAnswer *answer);
// The completion when there is no main window to ask: its text, then the pass given back.
void EndPassWithoutWindow(void);

// The completion step of one query of the running pass: the call that takes pendingQueries to
// 0 shows the completion text and has the GUI thread end the pass and enable Refresh.
void CompleteQuery(void);

// Starts the query thread of one record (CreateThread with QueryServer); NULL when it can't.
HANDLE StartQueryThread(ServerRecord *record);
// What the coordinator calls to start a query thread: StartQueryThread, unless a test stands
// in a thread creation that fails.
extern HANDLE (*startQueryThread)(ServerRecord *record);
