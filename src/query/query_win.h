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
// table rewritten, then starts that pass with StartClaimedPass.
void ClaimPassForMerge(void);
void StartClaimedPass(void);

// The completion step of one query of the running pass: the call that takes pendingQueries to
// 0 shows the completion text, enables Refresh and ends the pass.
void CompleteQuery(void);

// Starts the query thread of one record (CreateThread with QueryServer); NULL when it can't.
HANDLE StartQueryThread(ServerRecord *record);
// What the coordinator calls to start a query thread: StartQueryThread, unless a test stands
// in a thread creation that fails.
extern HANDLE (*startQueryThread)(ServerRecord *record);
