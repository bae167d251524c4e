// The refresh pass: start, spacing, sorting, the button, completion, and overlapping passes.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <mmsystem.h>
#include <uxtheme.h>

#include <string>
#include <vector>

#include "pump.h"
#include "query/query_win.h"
#include "query_fake_server.h"
#include "query_test_window.h"
#include "table/table.h"
#include "ui/ui.h"
#include "ui/ui_win.h"

namespace {

enum { MAX_FAKES = 8 };

FakeServer fakes[MAX_FAKES];
int fakeCount;

class QueryPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartWinsockForTests();
    ASSERT_TRUE(CreateQueryTestWindow());
    SettlePass();
    ResetQueryTestWindow();
    startQueryThread = StartQueryThread;
    fakeCount = 0;
  }

  void TearDown() override {
    SettlePass();
    startQueryThread = StartQueryThread;
    beforeAnswerSent = NULL;
    for (int i = 0; i < fakeCount; i++) StopFakeServer(&fakes[i]);
  }

  // count answering servers with the given reply delays and players.
  void UseAnsweringFakes(int count, const DWORD *delays, const int *players) {
    const char *addresses[MAX_FAKES];
    uint16_t ports[MAX_FAKES];
    for (int i = 0; i < count; i++) {
      FakeServer *fake = &fakes[fakeCount++];
      InitFakeServer(fake);
      fake->delayMs = delays[i];
      std::string info = "\\hostname\\Server " + std::to_string(i) + "\\mapname\\q2dm" + std::to_string(i);
      std::string lines;
      for (int k = 0; players && k < players[i]; k++) lines += "0 0 \"p" + std::to_string(k) + "\"\n";
      SetFakeReply(fake, info.c_str(), lines.c_str());
      ASSERT_TRUE(StartFakeServer(fake));
      addresses[i] = "127.0.0.1";
      ports[i] = fake->port;
    }
    UseServers(addresses, ports, count);
  }
};

int CountEvents(int kind) {
  int count = 0;
  for (int i = FindEvent(kind); i >= 0; i = FindEvent(kind, i + 1)) count++;
  return count;
}

int LastEvent(int kind) {
  int last = -1;
  for (int i = FindEvent(kind); i >= 0; i = FindEvent(kind, i + 1)) last = i;
  return last;
}

TEST_F(QueryPassTest, EmptyTableOnlyShowsItsMessage) {
  UseServers(NULL, NULL, 0);
  SendMessageA(hwndServerList, LVM_DELETEALLITEMS, 0, 0);
  AddPlayerRow();
  EnableWindow(hwndRefreshButton, FALSE);
  serverSortColumn = 2;
  playerSortColumn = 1;
  respondedCount = 7;
  queryEventCount = 0;

  RefreshServers();
  EXPECT_FALSE(IsPassRunning());
  PumpFor(200);  // a started thread would have shown something by now
  EXPECT_EQ((std::vector<std::string>{"No servers to query! Try clicking the Update button."}),
            StatusTexts(0, ""));
  EXPECT_EQ(1, queryEventCount);
  EXPECT_EQ(1, PlayerRowCount());
  EXPECT_FALSE(IsWindowEnabled(hwndRefreshButton));
  EXPECT_EQ(2, serverSortColumn);
  EXPECT_EQ(1, playerSortColumn);
  EXPECT_EQ(7, respondedCount);
}

TEST_F(QueryPassTest, StartForgetsReplyDataRowsSortOrderAndCounters) {
  const DWORD delays[2] = {0, 0};
  ASSERT_NO_FATAL_FAILURE(UseAnsweringFakes(2, delays, NULL));
  records[1].fromMasterList = 0;  // a server the user kept from an earlier run
  for (int i = 0; i < 2; i++) {   // stale data of an earlier pass
    CopyText(records[i].hostName, sizeof records[i].hostName, "stale");
    records[i].ping = 999;
    records[i].playerCount = 3;
    records[i].queryStartTime = 5;
    CopyText(records[i].players[2].name, sizeof records[i].players[2].name, "ghost");
  }
  LVITEMA stale = {};
  stale.mask = LVIF_TEXT | LVIF_PARAM;
  stale.pszText = LPSTR_TEXTCALLBACKA;
  SendMessageA(hwndServerList, LVM_INSERTITEMA, 0, (LPARAM)&stale);
  AddPlayerRow();
  serverSortColumn = 0;
  playerSortColumn = 2;
  respondedCount = 4;
  playerTotal = 9;
  queryEventCount = 0;

  RefreshServers();  // no pumping yet: the query threads wait for the GUI thread
  EXPECT_TRUE(IsPassRunning());
  EXPECT_EQ(0, ServerRowCount());
  EXPECT_EQ(0, PlayerRowCount());
  EXPECT_EQ(-1, serverSortColumn);
  EXPECT_EQ(-1, playerSortColumn);
  EXPECT_EQ(0, respondedCount);
  EXPECT_EQ(0, playerTotal);
  for (int i = 0; i < 2; i++) {
    SCOPED_TRACE(i);
    ServerRecord expected;
    memset(&expected, 0, sizeof expected);
    CopyText(expected.address, sizeof expected.address, "127.0.0.1");
    expected.port = fakes[i].port;
    expected.fromMasterList = i == 0 ? 1 : 0;
    EXPECT_EQ(0, memcmp(&expected, &records[i], sizeof expected));
  }
  ASSERT_GE(queryEventCount, 3);
  EXPECT_STREQ("Refreshing...", queryEvents[0].text);
  EXPECT_EQ(0u, queryEvents[0].wParam);
  EXPECT_STREQ("0 Players", queryEvents[1].text);
  EXPECT_EQ(1u, queryEvents[1].wParam);
  EXPECT_STREQ("0 Servers", queryEvents[2].text);
  EXPECT_EQ(2u, queryEvents[2].wParam);
  ASSERT_TRUE(PumpUntil([] { return !IsPassRunning(); }, 5000));
  EXPECT_EQ(1, CountStatus(0, "Completed. 2 of 2 servers responded."));
}

// Each later record answers faster, so rows go in ahead of those before them: the rows end in
// the reverse of the table's order, with no sort.
TEST_F(QueryPassTest, SeveralServersEndSortedByPingWithOneCompletion) {
  const DWORD delays[5] = {160, 120, 80, 40, 0};
  const int players[5] = {1, 0, 2, 3, 4};
  ASSERT_NO_FATAL_FAILURE(UseAnsweringFakes(5, delays, players));
  ASSERT_TRUE(RunPass(8000));

  EXPECT_EQ(1, CountStatus(0, "Completed. 5 of 5 servers responded."));
  EXPECT_EQ(1u, StatusTexts(0, "Completed.").size());
  EXPECT_EQ("Completed. 5 of 5 servers responded.", StatusTexts(0, "").back());
  EXPECT_EQ("10 Players", StatusBarText(1));
  EXPECT_EQ("5 Servers", StatusBarText(2));
  EXPECT_EQ(4, serverSortColumn);
  EXPECT_TRUE(IsWindowEnabled(hwndRefreshButton));

  // The button: disabled before the first row, enabled once, after the completion text.
  int disabled = FindEvent(QUERY_EVENT_ENABLE);
  ASSERT_GE(disabled, 0);
  EXPECT_FALSE(queryEvents[disabled].buttonEnabled);
  EXPECT_LT(disabled, FindEvent(QUERY_EVENT_INSERT));
  EXPECT_EQ(2, CountEvents(QUERY_EVENT_ENABLE));
  int enabled = LastEvent(QUERY_EVENT_ENABLE);
  EXPECT_TRUE(queryEvents[enabled].buttonEnabled);
  EXPECT_GT(enabled, FindStatus(0, "Completed. 5 of 5 servers responded."));

  // Every insertion: the button still disabled, no sort column yet, the rows ascending by ping
  // after it.
  int row = 0;
  for (int i = FindEvent(QUERY_EVENT_INSERT); i >= 0; i = FindEvent(QUERY_EVENT_INSERT, i + 1)) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(queryEvents[i].buttonEnabled);
    EXPECT_EQ(-1, queryEvents[i].serverSortColumn);
    EXPECT_TRUE(queryEvents[i].rowsAscendingByPing);
    row++;
  }
  EXPECT_EQ(5, row);
  EXPECT_EQ(0, CountEvents(QUERY_EVENT_SORT));
  ASSERT_EQ(5, ServerRowCount());
  for (int r = 0; r < 5; r++) EXPECT_EQ(4 - r, ServerRowRecord(r)) << "row " << r;
  for (int r = 1; r < 5; r++) {
    EXPECT_LE(records[ServerRowRecord(r - 1)].ping, records[ServerRowRecord(r)].ping);
  }

  // The coordinator starts the queries 50 ms apart; each request waits for its "Querying"
  // text to be served, so single gaps jitter, and on a loaded machine the first request can
  // wait long enough to take a gap with it. The span only tells paced starts (200 ms) from
  // starts all at once.
  for (int i = 1; i < 5; i++) EXPECT_GT(fakes[i].requestTimes[0], fakes[i - 1].requestTimes[0]) << i;
  DWORD span = fakes[4].requestTimes[0] - fakes[0].requestTimes[0];
  EXPECT_GE(span, 120u);
  EXPECT_LT(span, 1000u);
}

// A second click can reach the button before the coordinator disables it, or a Refresh can come
// from the GUI thread while a pass runs: it must change nothing and start nothing.
TEST_F(QueryPassTest, SecondRefreshDuringAPassChangesNothing) {
  const DWORD delays[3] = {300, 0, 300};
  ASSERT_NO_FATAL_FAILURE(UseAnsweringFakes(3, delays, NULL));
  RefreshServers();
  RefreshServers();  // the double click, before any message was served
  ASSERT_TRUE(PumpUntil([] { return ServerRowCount() == 1; }, 3000));
  ASSERT_TRUE(IsPassRunning());
  LONG responded = respondedCount;
  int events = queryEventCount;
  DWORD before = GetTickCount();
  RefreshServers();
  EXPECT_LT(GetTickCount() - before, 50u) << "the GUI thread must not wait";
  EXPECT_EQ(events, queryEventCount);
  EXPECT_EQ(1, ServerRowCount());
  EXPECT_EQ(responded, respondedCount);
  EXPECT_EQ(-1, serverSortColumn);
  ASSERT_TRUE(PumpUntil([] { return !IsPassRunning(); }, 5000));
  SettlePass();

  EXPECT_EQ(1, CountStatus(0, "Refreshing..."));
  EXPECT_EQ(1, CountStatus(0, "Completed. 3 of 3 servers responded."));
  EXPECT_EQ(3, ServerRowCount());
  // One pass only: each server got its first request and, on a machine slow enough that a
  // reply missed its second, the retries that pass showed.
  for (int i = 0; i < 3; i++) {
    int retries = 0;
    for (int attempt = 1; attempt <= 2; attempt++) {  // a third time-out sends nothing more
      char text[64];
      snprintf(text, sizeof text, "Retrying 127.0.0.1:%d (attempt %d)", (int)fakes[i].port, attempt);
      retries += CountStatus(0, text);
    }
    EXPECT_EQ(1 + retries, fakes[i].requests) << "server " << i;
  }
}

DWORD WINAPI ClaimForMerge(LPVOID param) {
  ClaimPassForMerge();
  *(bool *)param = true;
  return 0;
}

// The merge claims the pass once the running one has completed and holds it while it rewrites
// the table: a Refresh click in between starts nothing, and its own refresh then runs as usual.
TEST_F(QueryPassTest, MergeHoldsThePassFromItsClaimToItsOwnRefresh) {
  const DWORD delays[2] = {0, 400};
  ASSERT_NO_FATAL_FAILURE(UseAnsweringFakes(2, delays, NULL));
  RefreshServers();
  bool claimed = false;
  HANDLE worker = CreateThread(NULL, 0, ClaimForMerge, &claimed, 0, NULL);
  ASSERT_NE(nullptr, worker);
  bool done = PumpUntil([&] { return WaitForSingleObject(worker, 0) == WAIT_OBJECT_0; }, 20000);
  CloseHandle(worker);
  ASSERT_TRUE(done);
  ASSERT_TRUE(claimed);
  EXPECT_EQ(1, CountStatus(0, "Completed. 2 of 2 servers responded.")) << "claimed only after the pass";
  EXPECT_TRUE(IsPassRunning());

  LONG requestsBefore = fakes[0].requests + fakes[1].requests;
  RefreshServers();  // the click that lands while the table is being merged
  PumpFor(300);
  EXPECT_EQ(1, CountStatus(0, "Refreshing..."));
  EXPECT_EQ(requestsBefore, fakes[0].requests + fakes[1].requests);

  StartClaimedPass();
  ASSERT_TRUE(PumpUntil(
      [] { return CountStatus(0, "Completed. 2 of 2 servers responded.") == 2 && !IsPassRunning(); }, 10000));
  EXPECT_EQ(2, CountStatus(0, "Refreshing..."));
  EXPECT_EQ(requestsBefore + 2, fakes[0].requests + fakes[1].requests);
}

// The completion step enables Refresh after it has given the pass back: a click that the GUI
// thread serves while the completing thread is still inside EnableWindow starts a pass.
TEST_F(QueryPassTest, ClickTheMomentRefreshIsEnabledStartsAPass) {
  const DWORD delays[2] = {0, 0};
  ASSERT_NO_FATAL_FAILURE(UseAnsweringFakes(2, delays, NULL));
  static bool clicked, started;
  clicked = started = false;
  onRefreshEnabled = [] {
    if (clicked) return;
    clicked = true;
    RefreshServers();  // what the button's click runs
    started = IsPassRunning();
  };
  bool firstDone = RunPass(5000);
  onRefreshEnabled = NULL;
  ASSERT_TRUE(firstDone);
  ASSERT_TRUE(clicked) << "the button was never enabled";
  EXPECT_TRUE(started) << "the click was ignored";
  ASSERT_TRUE(PumpUntil(
      [] { return CountStatus(0, "Completed. 2 of 2 servers responded.") == 2 && !IsPassRunning(); }, 10000));
  EXPECT_EQ(2, CountStatus(0, "Refreshing..."));
}

int failingRecord = -1;

HANDLE StartUnlessFailing(ServerRecord *record) {
  if (failingRecord < 0 || RecordIndex(record) == failingRecord) return NULL;
  return StartQueryThread(record);
}

// A query thread that can't be created still takes its share of the count with it; the pass
// completes once, by whichever thread ends last, the coordinator included.
TEST_F(QueryPassTest, QueryThreadThatCannotBeCreatedStillLetsThePassComplete) {
  const DWORD delays[3] = {0, 0, 0};
  ASSERT_NO_FATAL_FAILURE(UseAnsweringFakes(3, delays, NULL));
  startQueryThread = StartUnlessFailing;
  struct Case {
    int failing;
    const char *completion;
    int rows;
  } cases[] = {{1, "Completed. 2 of 3 servers responded.", 2},
               {2, "Completed. 2 of 3 servers responded.", 2},    // the last one: the coordinator completes
               {-1, "Completed. 0 of 3 servers responded.", 0}};  // none starts at all
  for (const Case &c : cases) {
    SCOPED_TRACE(c.failing);
    SettlePass();
    ResetQueryTestWindow();
    failingRecord = c.failing;
    LONG requestsBefore = c.failing >= 0 ? fakes[c.failing].requests : 0;
    ASSERT_TRUE(RunPass(5000));
    EXPECT_EQ(1, (int)StatusTexts(0, "Completed.").size());
    EXPECT_EQ(1, CountStatus(0, c.completion));
    EXPECT_EQ(c.rows, ServerRowCount());
    EXPECT_TRUE(IsWindowEnabled(hwndRefreshButton));
    EXPECT_EQ(4, serverSortColumn);
    if (c.failing >= 0) {
      EXPECT_EQ(requestsBefore, fakes[c.failing].requests);
      EXPECT_EQ(0u, records[c.failing].queryStartTime);
      EXPECT_STREQ("", records[c.failing].hostName);
    }
  }
}

HANDLE answerRelease;

void HoldSecondAnswer(const ServerRecord *record) {
  if (RecordIndex(record) == 1) WaitForSingleObject(answerRelease, 10000);
}

// Record 1's answer is held between its answer and its message while the silent record 2 times
// out and its message is served: the pass must still end only after record 1's row.
TEST_F(QueryPassTest, AnswerHeldBeforeItsMessageStillLandsBeforeTheCompletion) {
  const DWORD delays[2] = {0, 100};
  ASSERT_NO_FATAL_FAILURE(UseAnsweringFakes(2, delays, NULL));
  const char *addresses[3] = {"127.0.0.1", "127.0.0.1", "127.0.0.1"};
  uint16_t ports[3] = {fakes[0].port, fakes[1].port, ClosedUdpPort()};
  UseServers(addresses, ports, 3);
  answerRelease = CreateEventA(NULL, TRUE, FALSE, NULL);
  beforeAnswerSent = HoldSecondAnswer;
  passMessagesServed = 0;
  RefreshServers();
  bool timedOut = PumpUntil([] { return passMessagesServed == 2; }, 8000);  // record 0's and 2's
  EXPECT_TRUE(IsPassRunning()) << "the pass was given back before its last row";
  SetEvent(answerRelease);
  ASSERT_TRUE(timedOut);
  ASSERT_TRUE(PumpUntil([] { return !IsPassRunning() && ServerRowCount() == 2; }, 5000));
  CloseHandle(answerRelease);

  int completed = FindStatus(0, "Completed. 2 of 3 servers responded.");
  EXPECT_EQ("Completed. 2 of 3 servers responded.", StatusTexts(0, "").back());
  int lastInsert = LastEvent(QUERY_EVENT_INSERT);
  EXPECT_LT(lastInsert, completed);
  EXPECT_EQ(0, ServerRowRecord(0)) << "lowest ping first";
  EXPECT_EQ(4, serverSortColumn);
}

// The server list's pixels as the screen shows them.
std::vector<DWORD> ListPixels(void) {
  RECT client;
  GetClientRect(hwndServerList, &client);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = NULL;
  HDC screen = GetDC(hwndServerList), memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
  std::vector<DWORD> pixels((DWORD *)bits, (DWORD *)bits + client.right * client.bottom);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(hwndServerList, screen);
  return pixels;
}

// A window over part of the list while answers land, a heading click midway: after each answer
// the list shows what it draws from scratch, with the visual style and (query_pass_unstyled)
// without. Under Wine the cover's own pixels are kept apart; Windows without composition shares them.
TEST_F(QueryPassTest, ListAfterEachAnswerLooksAsARepaintFromScratch) {
  const int32_t pings[13] = {10, 30, 50, 70, 90, 110, 130, 150, 170, 190, 999, 5, 60};
  const char *addresses[13];
  uint16_t ports[13];
  for (int i = 0; i < 13; i++) addresses[i] = "127.0.0.1", ports[i] = (uint16_t)(27910 + i);
  UseServers(addresses, ports, 13);
  ResetQueryTestWindow();
  serverSortColumn = -1;
  HWND cover = CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP | WS_BORDER, 40, 60, 200, 60,
                               hwndMain, NULL, GetModuleHandleA(NULL), NULL);  // over the list's rows
  const char *theme = getenv("VARNET_TEST_THEME");  // "none": Wine's visual style switched off
  ASSERT_EQ(theme == NULL || strcmp(theme, "none") != 0, GetWindowTheme(hwndServerList) != NULL);
  for (int i = 0; i < 13; i++) {
    SCOPED_TRACE(i);
    records[i].ping = pings[i];
    if (i == 4)
      SetWindowPos(cover, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    if (i == 7) ShowWindow(cover, SW_HIDE);
    if (i == 9) {  // a click on the Host heading: the next answer sorts by ping again
      NMLISTVIEW click = {
          {hwndServerList, ID_SERVER_LIST, LVN_COLUMNCLICK}, -1, SERVER_COLUMN_HOST, 0, 0, 0, {}, 0};
      HandleListNotify(ID_SERVER_LIST, (LPARAM)&click);
    }
    PublishedAnswer answer = {&records[i], ""};
    ShowAnswer(&answer);
    UpdateWindow(hwndServerList);
    std::vector<DWORD> shown = ListPixels();
    InvalidateRect(hwndServerList, NULL, TRUE);
    UpdateWindow(hwndServerList);
    EXPECT_TRUE(shown == ListPixels());
  }
  DestroyWindow(cover);
  for (int r = 1; r < 13; r++) EXPECT_LE(pings[ServerRowRecord(r - 1)], pings[ServerRowRecord(r)]) << r;
}

}  // namespace
