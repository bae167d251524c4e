// The update dialog against hostile master lists: huge, broken, cut-off and silent masters.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "master_games.h"
#include "master/master_win.h"
#include "master_http.h"
#include "master_window.h"
#include "pump.h"
#include "query/query_win.h"
#include "window_read.h"

namespace {

const char *const SENTINEL = MASTER_TEST_SENTINEL;
const char *const INVALID = "ERROR: Invalid response.";
const DWORD DIALOG_LIMIT_MS = 30000;
const uint64_t FIFTY_MEGABYTES = 52428800;

std::string Line(int game) { return MasterGameList(game, 1); }

std::string Padded(std::string text, size_t length) {
  text.resize(length, ' ');
  return text;
}

// Committed private memory and resident memory, whichever is larger: Wine reports no
// PrivateUsage but fills PagefileUsage (its committed bytes) and the working set.
SIZE_T MemoryInUse(void) {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&counters, sizeof counters))
    return 0;
  SIZE_T committed =
      counters.PrivateUsage > counters.PagefileUsage ? counters.PrivateUsage : counters.PagefileUsage;
  return committed > counters.WorkingSetSize ? committed : counters.WorkingSetSize;
}

bool PassCompleted(void) {
  return StatusText(hwndStatusBar, 0).rfind("Completed.", 0) == 0 && !IsPassRunning();
}

std::vector<std::string> StatusSteps(void) {
  std::vector<std::string> texts;
  for (const UpdateStep &step : UpdateSteps())
    if (step.operation == UPDATE_SET_STATUS) texts.push_back(step.text);
  return texts;
}

// Every record in use is a master-list record with its texts terminated within their fields.
void ExpectMergedRecordsBounded(void) {
  for (int i = 0; i < serverCount; i++) {
    SCOPED_TRACE(i);
    EXPECT_LT(strnlen(records[i].address, sizeof records[i].address), sizeof records[i].address);
    EXPECT_EQ(1, records[i].fromMasterList);
  }
}

// Sends WM_NULL to a window from its own thread, as another program would, and keeps the
// slowest answer; a send that is not answered within 100 ms counts as a failure.
struct ResponsivenessProbe {
  HWND target;
  volatile LONG stop;
  volatile LONG rounds;
  volatile LONG failures;
  volatile LONG worstMs;
  HANDLE thread;
};

DWORD WINAPI ProbeResponsiveness(LPVOID param) {
  ResponsivenessProbe *probe = (ResponsivenessProbe *)param;
  while (!probe->stop) {
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    LRESULT answered =
        SendMessageTimeoutA(probe->target, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, 100, &result);
    LONG took = (LONG)(GetTickCount() - start);
    if (answered == 0) InterlockedIncrement(&probe->failures);
    if (took > probe->worstMs) InterlockedExchange(&probe->worstMs, took);
    InterlockedIncrement(&probe->rounds);
    Sleep(20);
  }
  return 0;
}

void StartProbe(ResponsivenessProbe *probe, HWND target) {
  memset(probe, 0, sizeof *probe);
  probe->target = target;
  probe->thread = CreateThread(NULL, 0, ProbeResponsiveness, probe, 0, NULL);
}

void StopProbe(ResponsivenessProbe *probe) {
  if (probe->thread == NULL) return;
  InterlockedExchange(&probe->stop, 1);
  WaitForSingleObject(probe->thread, 2000);
  CloseHandle(probe->thread);
  probe->thread = NULL;
}

class HostileMaster : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
    ASSERT_TRUE(CreateMasterTestWindow());
    ASSERT_TRUE(StartMasterGames(MASTER_GAMES_MAX, 0));
  }

  static void TearDownTestSuite() {
    StopFakeMaster();
    StopMasterGames();
  }

  void SetUp() override { ASSERT_TRUE(ResetMasterTestWindow()); }

  void TearDown() override {
    StopFakeMaster();
    PumpUntil([] { return !IsUpdateRunning(); }, 30000);
  }

  static void Serve(const FakeMasterConfig &config) {
    ASSERT_TRUE(StartFakeMaster(config));
    snprintf(masterUrl, sizeof masterUrl, "%s", FakeMasterUrl().c_str());
  }

  // A cached record and one of an earlier list: what a rejected list must leave alone.
  void SeedTable() {
    AppendServer("127.0.0.1", MasterGamePort(60));
    records[0].fromMasterList = 0;
    AppendServer("127.0.0.1", MasterGamePort(61));
    memcpy(seeded, records, sizeof records);
    seededCount = serverCount;
  }

  void ExpectTableAsSeeded() {
    EXPECT_EQ(seededCount, serverCount);
    EXPECT_EQ(0, memcmp(seeded, records, sizeof records));
    EXPECT_EQ(SENTINEL, StatusText(hwndStatusBar, 0));  // no refresh started
  }

  // Runs the dialog, expects it to end by itself, waits for the download thread; returns ms.
  DWORD RunToTheEnd(const std::function<void(const DialogView &)> &watch = nullptr) {
    bool timedOut = false;
    DWORD start = GetTickCount();
    RunUpdateDialog(watch, DIALOG_LIMIT_MS, &timedOut);
    DWORD took = GetTickCount() - start;
    EXPECT_FALSE(timedOut) << "the dialog did not end by itself";
    EXPECT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 30000));
    return took;
  }

  // Runs the dialog until it shows an error and closes it; returns the text shown.
  std::string RunToError() {
    std::string shown;
    bool timedOut = false;
    RunUpdateDialog(
        [&](const DialogView &view) {
          if (view.button != "Close" || !shown.empty()) return;
          shown = view.status;
          ClickDialogButton(view.dialog);
        },
        DIALOG_LIMIT_MS, &timedOut);
    EXPECT_FALSE(timedOut) << "no error was shown";
    EXPECT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 30000));
    return shown;
  }

  static void WaitForPass(const char *expected) {
    ASSERT_TRUE(PumpUntil(PassCompleted, 20000)) << StatusText(hwndStatusBar, 0);
    EXPECT_EQ(expected, StatusText(hwndStatusBar, 0));
  }

  ServerRecord seeded[MAX_SERVERS];
  int32_t seededCount = 0;
};

// 50 MB of valid lines: the parser gets exactly the first 1 MiB, the dialog ends and Update is
// free again at once, the connection ends in bounded time and the memory stays small. (Wine's
// WinInet reads the rest of an announced body when the request handle is closed, so there the
// master does send all 50 MB; real Windows drops the connection.)
TEST_F(HostileMaster, FiftyMegabytesAreCutAtOneMebibyte) {
  FakeMasterConfig config = ListConfig(MasterGameList(0, MASTER_GAMES_MAX));
  config.bodyLength = FIFTY_MEGABYTES;
  Serve(config);
  SIZE_T before = MemoryInUse();
  SIZE_T peak = before;
  auto sample = [&] {
    SIZE_T now = MemoryInUse();
    if (now > peak) peak = now;
  };
  DWORD start = GetTickCount();
  DWORD took = RunToTheEnd([&](const DialogView &) { sample(); });
  DWORD freeAfter = GetTickCount() - start;
  bool connectionEnded = PumpUntil(
      [&] {
        sample();
        return FakeMasterClientGoneAt() != 0;
      },
      30000);
  DWORD connectionAfter = GetTickCount() - start;
  printf(
      "[   INFO   ] 50 MB master: dialog ended after %lu ms, Update free after %lu ms, connection ended "
      "after "
      "%lu ms having sent %llu body bytes; memory %lu KiB before, %lu KiB at most\n",
      took, freeAfter, connectionAfter, (unsigned long long)FakeMasterBodySent(),
      (unsigned long)(before / 1024), (unsigned long)(peak / 1024));

  EXPECT_EQ(MASTER_BODY_LIMIT, parsedBodyTotal);
  EXPECT_EQ(MASTER_BODY_LIMIT, parsedTextLength);
  EXPECT_LT(took, 15000u);
  EXPECT_LT(freeAfter - took, 2000u) << "the next Update waited for the rest of the body";
  EXPECT_TRUE(connectionEnded);
  EXPECT_LT(peak - before, (SIZE_T)24 * 1024 * 1024) << "memory grew with the body";
  ASSERT_EQ(MAX_SERVERS, serverCount);
  for (int i = 0; i < MAX_SERVERS; i++) {
    SCOPED_TRACE(i);
    EXPECT_STREQ("127.0.0.1", records[i].address);
    EXPECT_EQ(MasterGamePort(i), records[i].port);
  }
  ExpectMergedRecordsBounded();
  WaitForPass("Completed. 64 of 64 servers responded.");
}

// A master that announces a terabyte and keeps sending as fast as it can: once the first
// 1 MiB is merged, Update is free again and a second master's list is merged and refreshed
// while the first connection may still be open.
TEST_F(HostileMaster, EndlessBodyDoesNotHoldUpTheNextUpdate) {
  FakeMasterConfig config = ListConfig(MasterGameList(0, MASTER_GAMES_MAX));
  config.bodyLength = 1ull << 40;
  Serve(config);
  bool timedOut = false;
  RunUpdateDialog(nullptr, DIALOG_LIMIT_MS, &timedOut);
  ASSERT_FALSE(timedOut);
  EXPECT_EQ(MASTER_BODY_LIMIT, parsedBodyTotal);
  ASSERT_EQ(MAX_SERVERS, serverCount);
  ASSERT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 3000))
      << "the download still counts as running after its merge";
  printf("[   INFO   ] endless master: the first connection is %s when Update is free again\n",
         FakeMasterClientGoneAt() == 0 ? "still open (Wine reads on)" : "closed");

  ASSERT_TRUE(StartFakeMaster(ListConfig(MasterGameList(0, 3)), 1));
  snprintf(masterUrl, sizeof masterUrl, "%s", FakeMasterUrl(1).c_str());
  ClearUpdateSteps();
  RunToTheEnd();
  StopFakeMaster(1);
  EXPECT_EQ(1, FakeMasterRequests(1));
  ASSERT_EQ(3, serverCount);
  for (int i = 0; i < 3; i++) EXPECT_EQ(MasterGamePort(i), records[i].port) << i;
  WaitForPass("Completed. 3 of 3 servers responded.");
}

// The body is joined as text: a NUL ends it there, though every byte counts as received.
TEST_F(HostileMaster, NulBytesEndTheText) {
  const char raw[] = "127.0.0.1:0\0junk:1\n";
  std::string head = Line(0) + "127.0.0.1:0";
  std::string body = Line(0) + std::string(raw, sizeof raw - 1) + Line(2);
  Serve(ListConfig(body));
  RunToTheEnd();
  EXPECT_EQ((LONG)body.size(), parsedBodyTotal);
  EXPECT_EQ((LONG)head.size(), parsedTextLength);
  ASSERT_EQ(2, serverCount);
  EXPECT_EQ(MasterGamePort(0), records[0].port);
  EXPECT_STREQ("127.0.0.1", records[1].address);
  EXPECT_EQ(0, records[1].port);  // the line as far as the NUL
  ExpectMergedRecordsBounded();
  WaitForPass("Completed. 1 of 2 servers responded.");
}

TEST_F(HostileMaster, NulAsFirstByteIsAnInvalidResponse) {
  SeedTable();
  std::string body = std::string(1, '\0') + Line(0) + Line(1);
  Serve(ListConfig(body));
  EXPECT_EQ(INVALID, RunToError());
  EXPECT_EQ((LONG)body.size(), parsedBodyTotal);
  EXPECT_EQ(0, parsedTextLength);
  ExpectTableAsSeeded();
}

// A UTF-8 byte-order mark puts a non-digit first, so the whole list is refused.
TEST_F(HostileMaster, ByteOrderMarkIsAnInvalidResponse) {
  SeedTable();
  std::string body = "\xEF\xBB\xBF" + Line(0) + Line(1);
  Serve(ListConfig(body));
  EXPECT_EQ(INVALID, RunToError());
  EXPECT_EQ((LONG)body.size(), parsedBodyTotal);
  EXPECT_EQ((LONG)body.size(), parsedTextLength);
  std::vector<std::string> texts = StatusSteps();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ("Parsing servers...", texts[texts.size() - 2]);
  ExpectTableAsSeeded();
}

// Only a line feed ends a line: CR-only text is one line, and its port is read up to the
// first CR, so the list gives exactly its first server.
TEST_F(HostileMaster, CarriageReturnsAloneMakeOneLine) {
  std::string body;
  for (int i = 0; i < 3; i++) body += "127.0.0.1:" + std::to_string(MasterGamePort(i)) + "\r";
  Serve(ListConfig(body));
  RunToTheEnd();
  EXPECT_EQ((LONG)body.size(), parsedTextLength);
  ASSERT_EQ(1, serverCount);
  EXPECT_STREQ("127.0.0.1", records[0].address);
  EXPECT_EQ(MasterGamePort(0), records[0].port);
  WaitForPass("Completed. 1 of 1 server responded.");
}

TEST_F(HostileMaster, LastLineWithoutLineFeedCounts) {
  struct Case {
    std::string body;
    int servers;
  } cases[] = {{Line(0) + "127.0.0.1:" + std::to_string(MasterGamePort(1)), 2},
               {"127.0.0.1:" + std::to_string(MasterGamePort(0)), 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.servers);
    SetUp();
    Serve(ListConfig(c.body));
    RunToTheEnd();
    ASSERT_EQ(c.servers, serverCount);
    for (int i = 0; i < c.servers; i++) EXPECT_EQ(MasterGamePort(i), records[i].port) << i;
    char completed[64];
    snprintf(completed, sizeof completed, "Completed. %d of %d server%s responded.", c.servers, c.servers,
             c.servers == 1 ? "" : "s");
    WaitForPass(completed);
    StopFakeMaster();
  }
}

// Lines past the 64th are never used: they name an address no record may end up with.
TEST_F(HostileMaster, TenThousandLinesGiveTheFirst64) {
  std::string body = MasterGameList(0, MASTER_GAMES_MAX);
  for (int i = MASTER_GAMES_MAX; i < 10000; i++) body += "127.9.9.9:" + std::to_string(20000 + i) + "\n";
  Serve(ListConfig(body));
  RunToTheEnd();
  EXPECT_EQ((LONG)body.size(), parsedBodyTotal);
  ASSERT_EQ(MAX_SERVERS, serverCount);
  for (int i = 0; i < MAX_SERVERS; i++) {
    SCOPED_TRACE(i);
    EXPECT_STREQ("127.0.0.1", records[i].address);
    EXPECT_EQ(MasterGamePort(i), records[i].port);
  }
  WaitForPass("Completed. 64 of 64 servers responded.");
}

// A line is read up to 2047 characters and an address kept up to 255. The long names have a
// first label over 63 characters, so the resolver refuses them without asking a name server.
TEST_F(HostileMaster, LinesOf5000CharactersAreCut) {
  const std::string port0 = std::to_string(MasterGamePort(0));
  const std::string port1 = std::to_string(MasterGamePort(1));
  std::string body = Padded("127.0.0.1:" + port1, 5000) + "\n" +
                     Padded(std::string(300, 'x') + ":" + port0, 5000) + "\n" +
                     Padded(std::string(3000, 'y') + ":" + port0, 5000) + "\n";
  Serve(ListConfig(body));
  RunToTheEnd();
  EXPECT_EQ((LONG)body.size(), parsedTextLength);
  ASSERT_EQ(3, serverCount);
  EXPECT_STREQ("127.0.0.1", records[0].address);
  EXPECT_EQ(MasterGamePort(1), records[0].port);
  EXPECT_EQ(std::string(255, 'x'), records[1].address);
  EXPECT_EQ(MasterGamePort(0), records[1].port);
  EXPECT_EQ(std::string(255, 'y'), records[2].address);
  EXPECT_EQ(0, records[2].port);  // the colon lay beyond the 2047 characters kept of the line
  ExpectMergedRecordsBounded();
  WaitForPass("Completed. 1 of 3 servers responded.");
}

// The master announces ten lines, sends five and the start of the sixth, then closes: what
// came is parsed, the cut line included.
TEST_F(HostileMaster, ConnectionClosedMidBodyKeepsWhatCame) {
  std::string body = MasterGameList(0, 10);
  std::string sent = MasterGameList(0, 5) + "127.0.0.1:";
  FakeMasterConfig config = ListConfig(body);
  config.closeAfter = sent.size();
  Serve(config);
  DWORD took = RunToTheEnd();
  EXPECT_LT(took, 5000u);
  EXPECT_EQ((LONG)sent.size(), parsedBodyTotal);
  EXPECT_EQ((LONG)sent.size(), parsedTextLength);
  ASSERT_EQ(6, serverCount);
  for (int i = 0; i < 5; i++) EXPECT_EQ(MasterGamePort(i), records[i].port) << i;
  EXPECT_STREQ("127.0.0.1", records[5].address);
  EXPECT_EQ(0, records[5].port);
  WaitForPass("Completed. 5 of 6 servers responded.");
}

// A master that accepts the request and never answers: the dialog and the main window keep
// answering messages within 100 ms, Abort closes the dialog at once, and the download left
// behind ends without touching the dialog or the table once the connection goes.
TEST_F(HostileMaster, SilentMasterLeavesTheDialogResponsiveAndAbortable) {
  SeedTable();
  FakeMasterConfig config = ListConfig(Line(0));
  config.hang = true;
  Serve(config);
  ResponsivenessProbe dialogProbe = {}, mainProbe = {};
  DWORD hangSeenAt = 0, abortedAt = 0;
  size_t stepsAtAbort = 0;
  bool timedOut = false;
  // The probes are stopped, and seen to have ended, before Abort: one still sending to the
  // dialog as it goes would count a failure that is not one.
  RunUpdateDialog(
      [&](const DialogView &view) {
        if (abortedAt != 0 || !FakeMasterHanging()) return;
        if (hangSeenAt == 0) {
          hangSeenAt = GetTickCount();
          StartProbe(&dialogProbe, view.dialog);
          StartProbe(&mainProbe, hwndMain);
        }
        if (GetTickCount() - hangSeenAt < 1500) return;
        InterlockedExchange(&dialogProbe.stop, 1);
        InterlockedExchange(&mainProbe.stop, 1);
        if (WaitForSingleObject(dialogProbe.thread, 0) != WAIT_OBJECT_0 ||
            WaitForSingleObject(mainProbe.thread, 0) != WAIT_OBJECT_0)
          return;
        stepsAtAbort = UpdateSteps().size();
        abortedAt = GetTickCount();
        ClickDialogButton(view.dialog);
      },
      DIALOG_LIMIT_MS, &timedOut);
  DWORD closedAfter = GetTickCount() - abortedAt;
  StopProbe(&dialogProbe);
  StopProbe(&mainProbe);
  ASSERT_NE(0u, abortedAt) << "the master never hung";
  EXPECT_FALSE(timedOut);
  EXPECT_LT(closedAfter, 500u);
  EXPECT_EQ(NULL, hwndUpdateDialog);
  printf(
      "[   INFO   ] silent master: %ld probes of the dialog (slowest %ld ms), %ld of the main window "
      "(slowest %ld ms); the dialog closed %lu ms after Abort\n",
      (long)dialogProbe.rounds, (long)dialogProbe.worstMs, (long)mainProbe.rounds, (long)mainProbe.worstMs,
      closedAfter);
  EXPECT_GE(dialogProbe.rounds, 10);
  EXPECT_EQ(0, dialogProbe.failures);
  EXPECT_LT(dialogProbe.worstMs, 100);
  EXPECT_GE(mainProbe.rounds, 10);
  EXPECT_EQ(0, mainProbe.failures);
  EXPECT_LT(mainProbe.worstMs, 100);
  EXPECT_TRUE(IsUpdateRunning()) << "the download is still waiting for the master";
  EXPECT_TRUE(FakeMasterHanging());

  StopFakeMaster();  // the connection goes: the waiting download fails
  ASSERT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 15000));
  const std::vector<UpdateStep> &steps = UpdateSteps();
  ASSERT_GT(steps.size(), stepsAtAbort) << "the failure was expected to be reported, to nobody";
  for (size_t i = stepsAtAbort; i < steps.size(); i++) EXPECT_FALSE(steps[i].applied) << i;
  EXPECT_EQ(-7, parsedBodyTotal);
  ExpectTableAsSeeded();
}

}  // namespace
