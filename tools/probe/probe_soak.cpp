// The probe's soak and race subcommands: follow passes as they happen, drive many passes in one process.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "probe.h"

enum {
  FOLLOW_POLL_MS = 5,  // enough to see every step of a pass without loading the browser
  WATCH_POLL_MS = 1,   // a merge's pass follows the completion within milliseconds
  DEFAULT_SETTLE_MS = 300,
  DEFAULT_PASS_TIMEOUT_MS = 30000,
  BURST_WINDOW_MS = 1500,  // a pass of many servers lasts seconds; clicks this early all land inside it
  ADDRESS_LIST_SIZE = 8192,
  MAX_ROWS = 256
};

static const char COMPLETED_PREFIX[] = "Completed.";

// What one look at the browser shows: status part 0, the server rows and Refresh's state.
struct Sight {
  char text[PROBE_TEXT_SIZE];
  int rows;
  int enabled;
};

// The browser's pieces a follower reads, opened once.
struct Watched {
  HWND browser;
  HWND statusBar;
  HWND serverList;
  HWND refresh;
  RemoteBuffer remote;
};

// The controls come a moment after the window, so they are looked for until they are there.
static void FindControls(Watched *watched) {
  if (watched->statusBar == NULL) watched->statusBar = FindStatusBar(watched->browser);
  if (watched->serverList == NULL) watched->serverList = ChildById(watched->browser, ID_SERVER_LIST);
  if (watched->refresh == NULL) watched->refresh = ChildById(watched->browser, ID_REFRESH);
}

static bool OpenWatched(Watched *watched, DWORD timeoutMs) {
  memset(watched, 0, sizeof *watched);
  watched->browser = WaitForBrowser(timeoutMs);
  if (watched->browser == NULL) {
    fprintf(stderr, "probe: no browser window\n");
    return false;
  }
  FindControls(watched);
  return OpenRemote(watched->browser, &watched->remote);
}

static bool IsCompletedText(const char *text) {
  return strncmp(text, COMPLETED_PREFIX, strlen(COMPLETED_PREFIX)) == 0;
}

static bool Look(Watched *watched, Sight *sight) {
  if (!IsWindow(watched->browser)) return false;
  FindControls(watched);
  if (!ReadStatusPart(watched->statusBar, &watched->remote, 0, sight->text, sizeof sight->text)) return false;
  sight->rows = ListCount(watched->serverList);
  sight->enabled = IsWindowEnabled(watched->refresh) ? 1 : 0;
  return true;
}

static bool SameSight(const Sight *a, const Sight *b) {
  return a->rows == b->rows && a->enabled == b->enabled && strcmp(a->text, b->text) == 0;
}

// What following a pass found: the completions seen, the changes of part 0 after the first, and
// the most rows seen after the start (the rows shown at the start belong to the pass before).
struct FollowResult {
  int completions;
  int changesAfterCompletion;
  int maxRows;
  DWORD elapsedMs;
  bool timedOut;
};

static void NoteChange(const Sight *before, const Sight *now, FollowResult *result) {
  if (now->rows > result->maxRows) result->maxRows = now->rows;
  if (strcmp(before->text, now->text) == 0) return;
  if (result->completions > 0) result->changesAfterCompletion++;
  if (IsCompletedText(now->text) && !IsCompletedText(before->text)) result->completions++;
}

// Polls until `completions` completions have been seen and SETTLE_MS have passed after the last
// of them, or until the limit; with `print`, every change is a line "T_MS ROWS ENABLED TEXT".
static void Follow(Watched *watched, const Sight *start, int completions, DWORD settleMs, DWORD limitMs,
                   DWORD pollMs, bool print, FollowResult *result) {
  memset(result, 0, sizeof *result);
  Sight before = *start, now;
  DWORD begin = GetTickCount(), completedAt = 0;
  for (;;) {
    DWORD elapsed = GetTickCount() - begin;
    if (result->completions >= completions && elapsed - completedAt >= settleMs) break;
    if (elapsed >= limitMs || !Look(watched, &now)) {
      result->timedOut = true;
      break;
    }
    if (!SameSight(&before, &now)) {
      int seen = result->completions;
      NoteChange(&before, &now, result);
      if (result->completions != seen) completedAt = elapsed;
      if (print) printf("%lu\t%d\t%d\t%s\n", (unsigned long)elapsed, now.rows, now.enabled, now.text);
      before = now;
    }
    Sleep(pollMs);
  }
  result->elapsedMs = GetTickCount() - begin;
}

// watch TIMEOUT_MS COMPLETIONS [SETTLE_MS]: follows the running browser as it is now.
int CmdWatch(int argc, char **argv) {
  if (argc < 2) return PROBE_USAGE;
  DWORD limit = (DWORD)ParseInt(argv[0], DEFAULT_PASS_TIMEOUT_MS);
  int completions = ParseInt(argv[1], 1);
  DWORD settle = (DWORD)ParseInt(argc > 2 ? argv[2] : NULL, DEFAULT_SETTLE_MS);
  Watched watched;
  Sight start;
  if (!OpenWatched(&watched, limit) || !Look(&watched, &start)) return PROBE_FAILED;
  printf("0\t%d\t%d\t%s\n", start.rows, start.enabled, start.text);
  FollowResult result;
  Follow(&watched, &start, completions, settle, limit, WATCH_POLL_MS, true, &result);
  CloseRemote(&watched.remote);
  printf("completions %d\n", result.completions);
  return result.timedOut ? PROBE_FAILED : PROBE_OK;
}

static int CompareTexts(const void *a, const void *b) { return strcmp(*(char *const *)a, *(char *const *)b); }

// The server rows as the test compares them: the sum of the players cells and the sorted
// addresses, joined by commas.
static void ReadRowDigest(Watched *watched, int *players, char *addresses, int size) {
  static char cells[MAX_ROWS][64];
  static char *sorted[MAX_ROWS];
  char text[PROBE_TEXT_SIZE];
  int count = ListCount(watched->serverList);
  if (count > MAX_ROWS) count = MAX_ROWS;
  *players = 0;
  for (int row = 0; row < count; row++) {
    ReadListCell(watched->serverList, &watched->remote, row, 3, text, sizeof text);
    *players += atoi(text);
    ReadListCell(watched->serverList, &watched->remote, row, 1, cells[row], sizeof cells[row]);
    sorted[row] = cells[row];
  }
  qsort(sorted, (size_t)count, sizeof sorted[0], CompareTexts);
  addresses[0] = 0;
  int used = 0;
  for (int row = 0; row < count && used < size; row++)
    used += snprintf(addresses + used, (size_t)(size - used), "%s%s", row > 0 ? "," : "", sorted[row]);
}

// Waits, bounded, until Refresh is enabled and the last pass has shown its completion.
static bool WaitIdle(Watched *watched, DWORD limitMs, Sight *sight) {
  DWORD begin = GetTickCount();
  while (Look(watched, sight)) {
    if (sight->enabled && IsCompletedText(sight->text)) return true;
    if (Elapsed(begin, limitMs)) break;
    Sleep(FOLLOW_POLL_MS);
  }
  return false;
}

static void ClickRefresh(Watched *watched) { SendBounded(watched->refresh, BM_CLICK, 0, 0); }

// More Refresh clicks while the pass runs, in every way one can reach the program: the button's
// own click, the command sent and the command posted. Returns how many were made.
static int BurstRefresh(Watched *watched, int burst, DWORD clickedAt) {
  WPARAM command = MAKEWPARAM(ID_REFRESH, BN_CLICKED);
  int made = 0;
  for (int i = 0; i < burst && !Elapsed(clickedAt, BURST_WINDOW_MS); i++) {
    ClickRefresh(watched);
    SendBounded(watched->browser, WM_COMMAND, command, (LPARAM)watched->refresh);
    PostMessageA(watched->browser, WM_COMMAND, command, (LPARAM)watched->refresh);
    made += 3;
  }
  return made;
}

static void PrintPass(Watched *watched, int pass, int clicks, const FollowResult *result) {
  static char addresses[ADDRESS_LIST_SIZE];
  char part1[PROBE_TEXT_SIZE], part2[PROBE_TEXT_SIZE];
  Sight now;
  int players = 0;
  if (!Look(watched, &now)) now.text[0] = 0;
  ReadStatusPart(watched->statusBar, &watched->remote, 1, part1, sizeof part1);
  ReadStatusPart(watched->statusBar, &watched->remote, 2, part2, sizeof part2);
  ReadRowDigest(watched, &players, addresses, sizeof addresses);
  printf(
      "pass %d\tms %lu\tclicks %d\tcompletions %d\tchanges_after %d\tmax_rows %d\trows %d\tplayers %d\t"
      "part1 %s\tpart2 %s\tenabled %d\ttext %s\taddresses %s\n",
      pass, (unsigned long)result->elapsedMs, clicks, result->completions, result->changesAfterCompletion,
      result->maxRows, now.rows, players, part1, part2, now.enabled, now.text, addresses);
  fflush(stdout);
}

// One pass: idle first, Refresh clicked, the burst, the pass followed to its completion and settled.
static bool DrivePass(Watched *watched, int pass, int burst, DWORD settleMs, DWORD limitMs) {
  Sight idle;
  if (!WaitIdle(watched, limitMs, &idle)) {
    printf("pass %d\tnot idle\tenabled %d\ttext %s\n", pass, idle.enabled, idle.text);
    return false;
  }
  DWORD clickedAt = GetTickCount();
  ClickRefresh(watched);
  int clicks = 1 + BurstRefresh(watched, burst, clickedAt);
  FollowResult result;
  Follow(watched, &idle, 1, settleMs, limitMs, FOLLOW_POLL_MS, false, &result);
  PrintPass(watched, pass, clicks, &result);
  return !result.timedOut;
}

// passes COUNT [BURST] [SETTLE_MS] [TIMEOUT_MS]: COUNT passes back to back, each started with
// Refresh's click once the one before has completed; BURST rounds of more clicks follow each.
int CmdPasses(int argc, char **argv) {
  if (argc < 1) return PROBE_USAGE;
  int count = ParseInt(argv[0], 0);
  int burst = ParseInt(argc > 1 ? argv[1] : NULL, 0);
  DWORD settle = (DWORD)ParseInt(argc > 2 ? argv[2] : NULL, DEFAULT_SETTLE_MS);
  DWORD limit = (DWORD)ParseInt(argc > 3 ? argv[3] : NULL, DEFAULT_PASS_TIMEOUT_MS);
  Watched watched;
  if (count <= 0 || !OpenWatched(&watched, limit)) return PROBE_FAILED;
  bool ok = true;
  for (int pass = 1; pass <= count && ok; pass++) ok = DrivePass(&watched, pass, burst, settle, limit);
  CloseRemote(&watched.remote);
  return ok ? PROBE_OK : PROBE_FAILED;
}
