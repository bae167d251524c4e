// The update dialog against an in-process HTTP master: texts and progress, errors, body sizes,
// the merge and its refresh, dismissal during a transfer, and a second Update.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "settings/settings_win.h"
#include "ui/ui_win.h"
#include "master/master_win.h"
#include "master_games.h"
#include "master_http.h"
#include "master_window.h"
#include "pump.h"
#include "query/query_win.h"
#include "window_read.h"

namespace {

const char *const SENTINEL = MASTER_TEST_SENTINEL;
const char *const INITIAL_STATUS = "Attempting to initialize Winsock 1.1...";
const DWORD DIALOG_LIMIT_MS = 20000;

enum Dismissal { BY_BUTTON, BY_ESCAPE, BY_ENTER, BY_CLOSE_BOX };
const Dismissal ALL_DISMISSALS[] = {BY_BUTTON, BY_ESCAPE, BY_ENTER, BY_CLOSE_BOX};
const char *const DISMISSAL_NAMES[] = {"button", "Escape", "Enter", "close box"};

void Dismiss(HWND dialog, Dismissal way) {
  switch (way) {
    case BY_BUTTON: ClickDialogButton(dialog); break;
    case BY_ESCAPE: PressDialogKey(dialog, VK_ESCAPE); break;
    case BY_ENTER: PressDialogKey(dialog, VK_RETURN); break;
    case BY_CLOSE_BOX: ClickCloseBox(dialog); break;
  }
}

void Serve(const FakeMasterConfig &config) {
  ASSERT_TRUE(StartFakeMaster(config));
  snprintf(masterUrl, sizeof masterUrl, "%s", FakeMasterUrl().c_str());
}

// Lines "127.0.0.1:PORT" padded with spaces to lineLength, ports firstPort, firstPort + 1, ...
std::string PaddedList(int lines, size_t lineLength, int firstPort) {
  std::string body;
  for (int i = 0; i < lines; i++) {
    std::string line = "127.0.0.1:" + std::to_string(firstPort + i);
    line.resize(lineLength - 1, ' ');
    body += line + "\n";
  }
  return body;
}

// The game list with its first line padded to one whole read: a read returns only when it is
// full or the body has ended, so a hold after this piece leaves the first read completed.
std::string ListWithFullFirstRead(int games) {
  std::string body = MasterGameList(0, games);
  size_t firstEnd = body.find('\n');
  body.insert(firstEnd, MASTER_READ_SIZE - 1 - firstEnd, ' ');
  return body;
}

void AddRecord(const char *address, uint16_t port, int32_t fromMasterList) {
  ServerRecord *r = &records[serverCount++];
  memset(r, 0, sizeof *r);
  strcpy(r->address, address);
  r->port = port;
  r->fromMasterList = fromMasterList;
}

void AddListRow(int record) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = ListCount(hwndServerList);
  item.pszText = LPSTR_TEXTCALLBACKA;
  item.lParam = record;
  SendMessageA(hwndServerList, LVM_INSERTITEMA, 0, (LPARAM)&item);
}

bool Completed(const char *text) { return StatusText(hwndStatusBar, 0) == text; }

std::vector<std::string> StatusSteps(void) {
  std::vector<std::string> texts;
  for (const UpdateStep &step : UpdateSteps())
    if (step.operation == UPDATE_SET_STATUS) texts.push_back(step.text);
  return texts;
}

// The operations in order, with runs of the per-read +3 folded into one "+3..." entry.
std::vector<std::string> OperationTrace(int *reads) {
  std::vector<std::string> trace;
  *reads = 0;
  for (const UpdateStep &step : UpdateSteps()) {
    std::string entry;
    if (step.operation == UPDATE_SET_STATUS) entry = "status " + step.text;
    if (step.operation == UPDATE_MOVE_PROGRESS) entry = "+" + std::to_string((int)step.value);
    if (step.operation == UPDATE_SET_PROGRESS) entry = "set " + std::to_string((int)step.value);
    if (step.operation == UPDATE_SET_BUTTON) entry = "button " + step.text;
    if (step.operation == UPDATE_END_DIALOG) entry = "end";
    if (entry == "+3") {
      ++*reads;
      if (!trace.empty() && trace.back() == "+3...") continue;
      entry = "+3...";
    }
    trace.push_back(entry);
  }
  return trace;
}

class UpdateDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
    ASSERT_TRUE(CreateMasterTestWindow());
  }

  static void TearDownTestSuite() {
    StopFakeMaster();
    StopMasterGames();
  }

  void SetUp() override { ASSERT_TRUE(ResetMasterTestWindow()); }

  void TearDown() override {
    ReleaseFakeMaster();
    PumpUntil([] { return !IsUpdateRunning(); }, 30000);
    StopFakeMaster();
  }

  // One cached record and one from an earlier list, with a row: what must survive a failure.
  void SeedTable() {
    AddRecord("127.0.0.9", 9, 0);
    AddRecord("127.0.0.8", 8, 1);
    AddListRow(0);
    memcpy(seeded, records, sizeof records);
    seededCount = serverCount;
  }

  void ExpectTableAsSeeded() {
    EXPECT_EQ(seededCount, serverCount);
    EXPECT_EQ(0, memcmp(seeded, records, sizeof records));
    EXPECT_EQ(1, ListCount(hwndServerList));
    EXPECT_EQ(SENTINEL, StatusText(hwndStatusBar, 0));  // no refresh started
  }

  // Runs the dialog, expects it to end by itself, and waits for the download thread.
  void RunToTheEnd() {
    bool timedOut = false;
    RunUpdateDialog(nullptr, DIALOG_LIMIT_MS, &timedOut);
    EXPECT_FALSE(timedOut) << "the dialog did not end by itself";
    ASSERT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 30000));
  }

  // Runs the dialog until it shows an error, then ends it the given way; returns the error view.
  DialogView RunToError(Dismissal way) {
    DialogView shown = {};
    bool timedOut = false;
    RunUpdateDialog(
        [&](const DialogView &view) {
          if (view.button != "Close" || shown.dialog != NULL) return;
          shown = view;
          Dismiss(view.dialog, way);
        },
        DIALOG_LIMIT_MS, &timedOut);
    EXPECT_FALSE(timedOut) << "the error was never shown, or the dialog did not close";
    EXPECT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 30000));
    return shown;
  }

  ServerRecord seeded[MAX_SERVERS];
  int32_t seededCount = 0;
};

TEST_F(UpdateDialog, ValidListEndsTheDialogAndFillsTheList) {
  ASSERT_TRUE(StartMasterGames(3, 0));
  Serve(ListConfig(MasterGameList(0, 3)));
  RunToTheEnd();

  ASSERT_EQ(3, serverCount);
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    EXPECT_STREQ("127.0.0.1", records[i].address);
    EXPECT_EQ(MasterGamePort(i), records[i].port);
    EXPECT_EQ(1, records[i].fromMasterList);
  }
  ASSERT_TRUE(PumpUntil([] { return Completed("Completed. 3 of 3 servers responded."); }, 15000))
      << StatusText(hwndStatusBar, 0);
  ASSERT_EQ(3, ListCount(hwndServerList));
  std::set<std::string> hosts;
  for (int row = 0; row < 3; row++) hosts.insert(ListText(hwndServerList, row, 0));
  EXPECT_EQ((std::set<std::string>{"Master Game 1", "Master Game 2", "Master Game 3"}), hosts);
  EXPECT_EQ("Varnet Server Browser", FakeMasterUserAgent());
  EXPECT_EQ("/servers.txt", FakeMasterPath());
}

TEST_F(UpdateDialog, TextsAndProgressFollowTheTransfer) {
  ASSERT_TRUE(StartMasterGames(3, 0));
  Serve(ListConfig(MasterGameList(0, 3)));
  RunToTheEnd();

  int reads = 0;
  std::vector<std::string> expected = {"status Loading WinInet...",
                                       "+1",
                                       "status Fetching server list...",
                                       "+2",
                                       "status Receiving data...",
                                       "+3...",
                                       "+4",
                                       "status Parsing servers...",
                                       "+5",
                                       "end"};
  EXPECT_EQ(expected, OperationTrace(&reads));
  EXPECT_GE(reads, 2);  // the data, then the empty read that ends the body

  const std::vector<UpdateStep> &steps = UpdateSteps();
  ASSERT_FALSE(steps.empty());
  const DialogView &first = steps[0].before;  // the dialog as the template and WM_INITDIALOG left it
  EXPECT_EQ(INITIAL_STATUS, first.status);
  EXPECT_EQ("Abort", first.button);
  EXPECT_EQ(0, first.position);
  EXPECT_EQ(0, first.rangeLow);
  EXPECT_EQ(5, first.rangeHigh);
  std::vector<int> positions;  // after every progress step
  for (const UpdateStep &step : steps) {
    EXPECT_TRUE(step.applied) << step.operation;
    if (step.operation == UPDATE_MOVE_PROGRESS) positions.push_back(step.after.position);
    if (step.operation == UPDATE_SET_STATUS) {
      EXPECT_EQ(step.text, step.after.status);
    }
    if (step.operation != UPDATE_END_DIALOG) {
      EXPECT_EQ("Abort", step.after.button);
    }
  }
  ASSERT_GE(positions.size(), 3u);
  EXPECT_EQ(1, positions[0]);
  EXPECT_EQ(3, positions[1]);
  for (size_t i = 2; i < positions.size(); i++) EXPECT_EQ(5, positions[i]) << i;
}

// Held replies show the states in between as the user sees them: 1 while the address is being
// opened, 3 while the first read waits, 5 once data has come.
TEST_F(UpdateDialog, BarReads1Then3Then5WhileWaiting) {
  ASSERT_TRUE(StartMasterGames(3, 0));
  FakeMasterConfig config = ListConfig(ListWithFullFirstRead(3));
  config.holdBeforeHeaders = true;
  config.holdBeforeBody = true;
  config.holdAfterFirstPiece = true;
  config.pieceSize = MASTER_READ_SIZE;
  Serve(config);
  const char *const expected[] = {"Fetching server list... @1", "Receiving data... @3",
                                  "Receiving data... @5"};
  int stage = 0;
  std::string lastSeen;
  bool timedOut = false;
  RunUpdateDialog(
      [&](const DialogView &view) {
        lastSeen = view.status + " @" + std::to_string(view.position);
        if (stage >= 3 || !FakeMasterHolding() || FakeMasterHolds() != stage + 1) return;
        if (lastSeen != expected[stage]) return;
        stage++;
        ReleaseFakeMaster();
      },
      DIALOG_LIMIT_MS, &timedOut);
  EXPECT_FALSE(timedOut) << "stuck after stage " << stage << " showing " << lastSeen;
  EXPECT_EQ(3, stage);
  EXPECT_EQ(3, serverCount);
}

TEST_F(UpdateDialog, NotFoundPageIsRejectedAndEachKeyOnlyCloses) {
  for (Dismissal way : ALL_DISMISSALS) {
    SCOPED_TRACE(DISMISSAL_NAMES[way]);
    SetUp();
    SeedTable();
    FakeMasterConfig config = {};
    config.mode = MASTER_SERVE_404;
    Serve(config);
    DialogView shown = RunToError(way);
    EXPECT_EQ("ERROR: Invalid response.", shown.status);
    EXPECT_EQ(5, shown.position);
    EXPECT_EQ("Close", shown.button);
    EXPECT_EQ(NULL, hwndUpdateDialog);
    PumpFor(300);
    EXPECT_EQ(1, FakeMasterRequests()) << "closing the dialog fetched again";
    ExpectTableAsSeeded();
    std::vector<std::string> texts = StatusSteps();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ("Parsing servers...", texts[texts.size() - 2]);  // the page itself was received
    EXPECT_GT(parsedBodyTotal, 0);
    StopFakeMaster();
  }
}

TEST_F(UpdateDialog, ClosedMasterPortShowsTheWinInetError) {
  SeedTable();
  snprintf(masterUrl, sizeof masterUrl, "http://127.0.0.1:%u/servers.txt", (unsigned)ClosedTcpPort());
  DialogView shown = RunToError(BY_ESCAPE);
  EXPECT_EQ("ERROR: WinInet Error (12029)", shown.status);  // ERROR_INTERNET_CANNOT_CONNECT
  EXPECT_EQ(5, shown.position);
  EXPECT_EQ("Close", shown.button);
  std::vector<std::string> texts = StatusSteps();
  std::vector<std::string> expected = {"Loading WinInet...", "Fetching server list...",
                                       "ERROR: WinInet Error (12029)"};
  EXPECT_EQ(expected, texts);
  EXPECT_EQ(-7, parsedBodyTotal);  // the parser never ran
  ExpectTableAsSeeded();
}

TEST_F(UpdateDialog, EmptyBodyIsAWinInetError) {
  SeedTable();
  FakeMasterConfig config = {};
  config.mode = MASTER_SERVE_EMPTY;
  Serve(config);
  DialogView shown = RunToError(BY_ENTER);
  EXPECT_EQ(0u, shown.status.rfind("ERROR: WinInet Error (", 0)) << shown.status;
  EXPECT_EQ(')', shown.status.back());
  EXPECT_EQ(5, shown.position);
  EXPECT_EQ(1, FakeMasterRequests());
  EXPECT_EQ(-7, parsedBodyTotal);
  ExpectTableAsSeeded();
}

TEST_F(UpdateDialog, BodiesOf8000And20000BytesReachTheParserWhole) {
  struct Case {
    int lines;
    size_t lineLength;
  } cases[] = {{40, 200}, {50, 400}};  // 8000 and 20000 bytes
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lines * c.lineLength);
    SetUp();
    std::string body = PaddedList(c.lines, c.lineLength, 30000);
    Serve(ListConfig(body));
    RunToTheEnd();
    EXPECT_EQ((LONG)body.size(), parsedBodyTotal);
    EXPECT_EQ((LONG)body.size(), parsedTextLength);
    ASSERT_EQ(c.lines, serverCount);
    EXPECT_EQ(30000 + c.lines - 1, records[c.lines - 1].port);  // the last bytes arrived too
    int reads = 0;
    OperationTrace(&reads);
    EXPECT_GE(reads, (int)((body.size() + 7999) / 8000) + 1);
    StopFakeMaster();
  }
}

TEST_F(UpdateDialog, BodyIsCutAtOneMebibyte) {
  std::string body = PaddedList(1, 32, 31000);
  while (body.size() < 2 * 1024 * 1024) body += PaddedList(1, 32, 31001);
  Serve(ListConfig(body));
  RunToTheEnd();
  EXPECT_EQ(MASTER_BODY_LIMIT, parsedBodyTotal);
  EXPECT_EQ(MASTER_BODY_LIMIT, parsedTextLength);
  ASSERT_EQ(MAX_SERVERS, serverCount);
  EXPECT_EQ(31000, records[0].port);
  EXPECT_EQ(31001, records[63].port);
}

// One deadline covers the whole transfer: a body still trickling in when it passes fails the
// download with the time-out code, and nothing of it is merged.
TEST_F(UpdateDialog, TricklingBodyFailsAtTheDeadline) {
  SeedTable();
  std::string body = PaddedList(3, 40, 30000);
  FakeMasterConfig config = ListConfig(body);
  config.pieceSize = 10;
  config.pieceDelayMs = 400;  // 120 bytes: 4.4 s
  Serve(config);
  const DWORD limit = masterTransferLimitMs;
  masterTransferLimitMs = 1500;
  DWORD start = GetTickCount();
  DialogView shown = RunToError(BY_BUTTON);
  DWORD took = GetTickCount() - start;
  masterTransferLimitMs = limit;
  EXPECT_EQ("ERROR: WinInet Error (12002)", shown.status);  // ERROR_INTERNET_TIMEOUT
  EXPECT_EQ("Close", shown.button);
  EXPECT_LT(took, 4000u);
  EXPECT_GT(FakeMasterBodySent(), 0u) << "the deadline came before the body";
  EXPECT_EQ(-7, parsedBodyTotal);  // the parser never ran
  EXPECT_TRUE(MergeSteps().empty());
  ExpectTableAsSeeded();
}

TEST_F(UpdateDialog, NulByteEndsTheTextButCounts) {
  const char raw[] = "127.0.0.1:5\0junk\n127.0.0.1:6\n";
  Serve(ListConfig(std::string(raw, sizeof raw - 1)));
  RunToTheEnd();
  EXPECT_EQ((LONG)(sizeof raw - 1), parsedBodyTotal);
  EXPECT_EQ(11, parsedTextLength);
  ASSERT_EQ(1, serverCount);
  EXPECT_EQ(5, records[0].port);
}

// The merge runs on the GUI thread in one step with the removal of both lists' rows: until that
// step the table is as it was, so nothing the GUI thread does can see a record move. Its pass
// starts on the GUI thread too, once the dialog has ended.
TEST_F(UpdateDialog, HundredLinesAfterCachedRecordsAt3And7) {
  for (int i = 0; i < 10; i++) {
    bool cached = (i == 3 || i == 7);
    AddRecord(cached ? (i == 3 ? "127.0.3.3" : "127.0.7.7") : "127.0.0.8", (uint16_t)(100 + i),
              cached ? 0 : 1);
    AddListRow(i);
  }
  LVITEMA player = {};
  player.mask = LVIF_TEXT | LVIF_PARAM;
  player.pszText = LPSTR_TEXTCALLBACKA;
  SendMessageA(hwndPlayerList, LVM_INSERTITEMA, 0, (LPARAM)&player);
  std::string body;
  for (int i = 0; i < 100; i++)
    body += "127.1.0." + std::to_string(i + 1) + ":" + std::to_string(32000 + i) + "\n";
  Serve(ListConfig(body));
  RunToTheEnd();
  ASSERT_EQ(1u, MergeSteps().size());
  const MergeStep &merge = MergeSteps()[0];
  EXPECT_EQ(GetCurrentThreadId(), merge.threadId);
  EXPECT_EQ(10, merge.countBefore);
  EXPECT_EQ(MAX_SERVERS, merge.countAfter);
  EXPECT_EQ(0, merge.serverRows);
  EXPECT_EQ(0, merge.playerRows);
  ASSERT_TRUE(PumpUntil([] { return MergeSteps()[0].passStarts == 1; }, 5000));
  EXPECT_FALSE(MergeSteps()[0].passStartedByWorker) << "the download thread reset the records";
  ASSERT_EQ(MAX_SERVERS, serverCount);
  EXPECT_STREQ("127.0.3.3", records[0].address);
  EXPECT_EQ(0, records[0].fromMasterList);
  EXPECT_STREQ("127.0.7.7", records[1].address);
  EXPECT_EQ(107, records[1].port);
  for (int i = 2; i < MAX_SERVERS; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ("127.1.0." + std::to_string(i - 1), std::string(records[i].address));
    EXPECT_EQ(32000 + i - 2, records[i].port);
  }
}

// Each way of dismissing the dialog mid-transfer closes it at once; the held body then arrives,
// is merged and a refresh fills the list, with no dialog on screen and nothing sent to one.
TEST_F(UpdateDialog, DismissedDuringSlowBodyClosesAtOnceThenMerges) {
  ASSERT_TRUE(StartMasterGames(3, 0));
  std::string body = ListWithFullFirstRead(3);
  for (Dismissal way : ALL_DISMISSALS) {
    SCOPED_TRACE(DISMISSAL_NAMES[way]);
    SetUp();
    AddRecord("127.0.0.8", 8, 1);
    memcpy(seeded, records, sizeof records);
    FakeMasterConfig config = ListConfig(body);
    config.pieceSize = MASTER_READ_SIZE;  // the first read's worth, then the hold
    config.holdAfterFirstPiece = true;
    Serve(config);

    DWORD dismissedAt = 0;
    size_t stepsAtDismissal = 0;
    bool timedOut = false;
    RunUpdateDialog(
        [&](const DialogView &view) {
          if (dismissedAt != 0 || !FakeMasterHolding() || view.position != 5) return;
          dismissedAt = GetTickCount();
          stepsAtDismissal = UpdateSteps().size();
          Dismiss(view.dialog, way);
        },
        DIALOG_LIMIT_MS, &timedOut);
    DWORD closedAfter = GetTickCount() - dismissedAt;
    ASSERT_NE(0u, dismissedAt);
    EXPECT_FALSE(timedOut);
    EXPECT_LT(closedAfter, 1000u);
    EXPECT_TRUE(IsUpdateRunning()) << "the download must go on";
    EXPECT_EQ(0, memcmp(seeded, records, sizeof records));  // nothing merged yet

    ReleaseFakeMaster();
    ASSERT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 15000));
    ASSERT_EQ(3, serverCount);
    EXPECT_EQ(MasterGamePort(2), records[2].port);
    ASSERT_TRUE(PumpUntil([] { return Completed("Completed. 3 of 3 servers responded."); }, 15000))
        << StatusText(hwndStatusBar, 0);
    EXPECT_EQ(3, ListCount(hwndServerList));
    const std::vector<UpdateStep> &steps = UpdateSteps();
    ASSERT_GT(steps.size(), stepsAtDismissal);
    for (size_t i = stepsAtDismissal; i < steps.size(); i++) {
      SCOPED_TRACE(i);
      EXPECT_FALSE(steps[i].applied);
    }
    EXPECT_EQ(UPDATE_END_DIALOG, steps.back().operation);
    StopFakeMaster();
  }
}

TEST_F(UpdateDialog, FailureAfterDismissalShowsNothing) {
  SeedTable();
  FakeMasterConfig config = ListConfig("127.0.0.1:1\n");
  config.holdBeforeHeaders = true;
  Serve(config);
  bool timedOut = false, dismissed = false;
  RunUpdateDialog(
      [&](const DialogView &view) {
        if (dismissed || !FakeMasterHolding() || view.status != "Fetching server list...") return;
        dismissed = true;
        Dismiss(view.dialog, BY_ESCAPE);
      },
      DIALOG_LIMIT_MS, &timedOut);
  ASSERT_TRUE(dismissed);
  EXPECT_FALSE(timedOut);
  size_t stepsAtDismissal = UpdateSteps().size();
  StopFakeMaster();  // the connection ends without an answer
  ASSERT_TRUE(PumpUntil([] { return !IsUpdateRunning(); }, 40000));
  const std::vector<UpdateStep> &steps = UpdateSteps();
  bool errorTried = false;
  for (size_t i = stepsAtDismissal; i < steps.size(); i++) {
    EXPECT_FALSE(steps[i].applied) << i;
    if (steps[i].operation == UPDATE_SET_BUTTON) errorTried = true;
  }
  EXPECT_TRUE(errorTried) << "the transfer was expected to fail";
  ExpectTableAsSeeded();
}

// After an Abort the earlier download still runs; a second Update is refused in its dialog and
// that dialog is left alone when the earlier download ends. Only one merge happens.
TEST_F(UpdateDialog, SecondUpdateWhileTheEarlierDownloadRuns) {
  ASSERT_TRUE(StartMasterGames(3, 0));
  std::string body = MasterGameList(0, 3);
  FakeMasterConfig config = ListConfig(body);
  config.holdBeforeHeaders = true;
  Serve(config);
  bool timedOut = false;
  RunUpdateDialog(
      [&](const DialogView &view) {
        if (FakeMasterHolding()) ClickDialogButton(view.dialog);
      },
      DIALOG_LIMIT_MS, &timedOut);
  ASSERT_FALSE(timedOut);
  ASSERT_TRUE(IsUpdateRunning());

  DialogView refused = {}, afterEarlierEnded = {};
  RunUpdateDialog(
      [&](const DialogView &view) {
        if (refused.dialog == NULL) {
          refused = view;
          ReleaseFakeMaster();  // the earlier download now ends while this dialog is open
          return;
        }
        if (IsUpdateRunning() || IsPassRunning()) return;
        afterEarlierEnded = view;
        PressDialogKey(view.dialog, VK_ESCAPE);
      },
      DIALOG_LIMIT_MS, &timedOut);
  EXPECT_FALSE(timedOut) << "the refused dialog did not stay open until closed";
  EXPECT_EQ("ERROR: Update already running.", refused.status);
  EXPECT_EQ("Close", refused.button);
  EXPECT_EQ(5, refused.position);
  EXPECT_EQ(refused.status, afterEarlierEnded.status);  // the earlier download left it alone
  EXPECT_EQ("Close", afterEarlierEnded.button);
  EXPECT_EQ(1, FakeMasterRequests());
  ASSERT_EQ(3, serverCount);
  EXPECT_TRUE(Completed("Completed. 3 of 3 servers responded.")) << StatusText(hwndStatusBar, 0);

  // Once the earlier download has finished, Update works again.
  StopFakeMaster();
  Serve(ListConfig(MasterGameList(0, 2)));
  RunToTheEnd();
  EXPECT_EQ(1, FakeMasterRequests());
  EXPECT_EQ(2, serverCount);
}

// A list arriving while a pass runs is merged only after the pass has completed.
TEST_F(UpdateDialog, MergeWaitsForTheRunningPass) {
  ASSERT_TRUE(StartMasterGames(3, 1));
  AddRecord("127.0.0.1", MasterGamePort(3), 1);  // silent: the pass lasts its three attempts
  RefreshServers();
  ASSERT_TRUE(IsPassRunning());
  Serve(ListConfig(MasterGameList(0, 3)));
  RunToTheEnd();

  bool parsedDuringPass = false, mergedDuringPass = false;
  for (const UpdateStep &step : UpdateSteps()) {
    if (step.operation == UPDATE_SET_STATUS && step.text == "Parsing servers...")
      parsedDuringPass = step.passRunning;
    if (step.operation == UPDATE_MOVE_PROGRESS && step.value == 5) mergedDuringPass = step.passRunning;
  }
  EXPECT_TRUE(parsedDuringPass) << "the list came too late to test the wait";
  EXPECT_FALSE(mergedDuringPass);
  ASSERT_EQ(3, serverCount);
  ASSERT_TRUE(PumpUntil([] { return Completed("Completed. 3 of 3 servers responded."); }, 15000))
      << StatusText(hwndStatusBar, 0);
}

// Under Wine INTERNET_FLAG_RELOAD sends no cache headers, so "never from the cache" shows as
// every Update reaching the master, with no conditional request.
TEST_F(UpdateDialog, EveryUpdateReachesTheMasterWithOurUserAgent) {
  ASSERT_TRUE(StartMasterGames(3, 0));
  Serve(ListConfig(MasterGameList(0, 3)));
  for (int i = 1; i <= 2; i++) {
    SCOPED_TRACE(i);
    RunToTheEnd();
    EXPECT_EQ(i, FakeMasterRequests());
    EXPECT_EQ("Varnet Server Browser", FakeMasterUserAgent());
    std::string cache = FakeMasterCacheHeaders();
    EXPECT_EQ(std::string::npos, cache.find("If-")) << cache;
    ASSERT_TRUE(PumpUntil([] { return !IsPassRunning(); }, 15000));
  }
}

}  // namespace
