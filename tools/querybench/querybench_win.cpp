// Measures refresh passes over 64 in-process servers: ping error per reply delay and pass time.
//
// Run under Wine (a display is needed for the controls) with scripts/bench-query. Without
// arguments the servers run inside this process; with --lab BASEPORT they are lab servers, 64
// per delay on consecutive ports from BASEPORT (delay 0 first, then 50, 150 and 300). It prints
// figures and judges nothing; the targets are a median ping error of at most 2 ms and a pass
// within 50 x 63 ms + the slowest reply + 100 ms.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pump.h"
#include "query/query_win.h"
#include "query_fake_server.h"
#include "query_test_window.h"
#include "table/table.h"

enum { BENCH_SERVERS = MAX_SERVERS, SPACING_MS = 50, PASS_MARGIN_MS = 100, PASS_LIMIT_MS = 30000 };

static FakeServer servers[BENCH_SERVERS];
static int labBasePort;  // 0: servers in this process

static int CompareDoubles(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : (x > y ? 1 : 0);
}

static double Median(double *values, int count) {
  if (count == 0) return 0;
  qsort(values, (size_t)count, sizeof *values, CompareDoubles);
  return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static bool StartServers(DWORD delayMs) {
  const char *addresses[BENCH_SERVERS];
  uint16_t ports[BENCH_SERVERS];
  for (int i = 0; i < BENCH_SERVERS; i++) {
    InitFakeServer(&servers[i]);
    servers[i].delayMs = delayMs;
    servers[i].lifetimeMs = 60000;
    SetFakeReply(&servers[i], "\\hostname\\Bench\\mapname\\q2dm1\\maxclients\\16",
                 "3 40 \"a\"\n7 55 \"b\"\n");
    if (!StartFakeServer(&servers[i])) return false;
    addresses[i] = "127.0.0.1";
    ports[i] = servers[i].port;
  }
  UseServers(addresses, ports, BENCH_SERVERS);
  return true;
}

static void UseLabServers(int round) {
  const char *addresses[BENCH_SERVERS];
  uint16_t ports[BENCH_SERVERS];
  for (int i = 0; i < BENCH_SERVERS; i++) {
    addresses[i] = "127.0.0.1";
    ports[i] = (uint16_t)(labBasePort + round * BENCH_SERVERS + i);
  }
  UseServers(addresses, ports, BENCH_SERVERS);
}

// From "Refreshing..." to the completion text, as the status bar received them: the pump's
// own wake-ups don't count.
static long PassMilliseconds(void) {
  int start = FindStatus(0, "Refreshing...");
  int end = FindEvent(QUERY_EVENT_STATUS, start + 1);
  while (end >= 0 && strncmp(queryEvents[end].text, "Completed.", 10) != 0) {
    end = FindEvent(QUERY_EVENT_STATUS, end + 1);
  }
  if (start < 0 || end < 0) return -1;
  return (long)(queryEvents[end].time - queryEvents[start].time);
}

// One pass over 64 servers that all answer after delayMs; prints one line of figures.
static bool MeasurePass(DWORD delayMs, int round) {
  if (labBasePort != 0)
    UseLabServers(round);
  else if (!StartServers(delayMs))
    return false;
  ResetQueryTestWindow();
  RefreshServers();
  bool completed = PumpUntil([] { return !IsPassRunning(); }, PASS_LIMIT_MS);
  SettlePass();

  double errors[BENCH_SERVERS], serverDelays[BENCH_SERVERS];
  int answered = 0, slowest = 0, minError = 1 << 30, maxError = -(1 << 30);
  for (int i = 0; i < BENCH_SERVERS; i++) {
    if (records[i].hostName[0] == 0) continue;
    int error = records[i].ping - (int)delayMs;
    errors[answered] = error;
    serverDelays[answered] = labBasePort != 0 ? -1 : servers[i].replyDelayMs[0];
    answered++;
    if (records[i].ping > slowest) slowest = records[i].ping;
    if (error < minError) minError = error;
    if (error > maxError) maxError = error;
  }
  long passMs = PassMilliseconds();
  int bound = SPACING_MS * (BENCH_SERVERS - 1) + slowest + PASS_MARGIN_MS;
  DWORD lastStart = records[BENCH_SERVERS - 1].queryStartTime - records[0].queryStartTime;
  printf("%5lu ms  %2d/%d  %+6.1f  %+4d..%+4d  %7.2f  %7ld  %5d  %7lu%s\n", (unsigned long)delayMs, answered,
         BENCH_SERVERS, Median(errors, answered), minError, maxError, Median(serverDelays, answered), passMs,
         bound, (unsigned long)lastStart, completed ? "" : "  (pass did not complete)");
  if (labBasePort == 0) {
    for (int i = 0; i < BENCH_SERVERS; i++) StopFakeServer(&servers[i]);
  }
  return completed;
}

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--lab") == 0) labBasePort = atoi(argv[2]);
  StartWinsockForTests();
  if (!CreateQueryTestWindow()) {
    fprintf(stderr, "querybench: could not create the window\n");
    return 1;
  }
  printf("64 %s servers on 127.0.0.1 per pass; ping error = reported ping - reply delay\n",
         labBasePort != 0 ? "lab" : "in-process");
  printf("delay     answered  median   min..max    server   pass ms  bound  last start\n");
  printf("                    error    error       delay                      after first\n");
  static const DWORD delays[] = {0, 50, 150, 300};
  bool ok = true;
  for (int round = 0; round < 4; round++) ok = MeasurePass(delays[round], round) && ok;
  printf(
      "pass ms = from the \"Refreshing...\" text to the completion text\n"
      "bound = 50 x 63 ms + slowest reported ping + 100 ms; server delay = measured median time\n"
      "from a request's arrival to its reply leaving the server (-1: not known for lab servers);\n"
      "last start = queryStartTime of record 63 - that of record 0\n");
  return ok ? 0 : 1;
}
