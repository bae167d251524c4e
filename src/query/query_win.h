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
  PASS_NO_ANSWER,         // a query ended without a row: count it down, end the pass at 0
  PASS_PUBLISH            // show an answer, then count it down; lParam the PublishedAnswer
};
LRESULT HandlePassMessage(WPARAM operation, LPARAM data);

// An answering server's record and its "Found" text, for the GUI thread.
struct PublishedAnswer {
  const ServerRecord *record;
  const char *foundText;
};
// On the GUI thread: inserts the answer's row in ping order and sets the three texts.
void ShowAnswer(const PublishedAnswer *answer);

// A query thread's last step when it has no row to show: the GUI thread counts it down.
void CompleteQuery(void);
// When the main window has gone at the end of the run: counts one query down and gives the
// pass back at 0, touching no control.
void CompleteQueryWithoutWindow(void);

// Starts the query thread of one record (CreateThread with QueryServer); NULL when it can't.
HANDLE StartQueryThread(ServerRecord *record);
// What the coordinator calls to start a query thread: StartQueryThread, unless a test stands
// in a thread creation that fails.
extern HANDLE (*startQueryThread)(ServerRecord *record);
// Called by a query thread with an answer just before it sends it to the GUI thread, so that a
// test can hold it there; NULL in the program.
extern void (*beforeAnswerSent)(const ServerRecord *record);
