// The query thread against in-process servers: the exchange, retries, names, texts, the row.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "pump.h"
#include "query/query_win.h"
#include "query/reply.h"
#include "query_fake_server.h"
#include "query_test_window.h"
#include "table/table.h"
#include "ui/ui.h"
#include "ui/ui_win.h"

namespace {

enum { MAX_FAKES = 8 };

FakeServer fakes[MAX_FAKES];
int fakeCount;

class QueryServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartWinsockForTests();
    ASSERT_TRUE(CreateQueryTestWindow());
    SettlePass();
    ResetQueryTestWindow();
    fakeCount = 0;
  }

  void TearDown() override {
    SettlePass();
    for (int i = 0; i < fakeCount; i++) StopFakeServer(&fakes[i]);
  }

  FakeServer *AddFake() {
    FakeServer *fake = &fakes[fakeCount++];
    InitFakeServer(fake);
    return fake;
  }

  // One record per fake server, in order, all at 127.0.0.1.
  void UseFakes() {
    const char *addresses[MAX_FAKES];
    uint16_t ports[MAX_FAKES];
    for (int i = 0; i < fakeCount; i++) {
      ASSERT_TRUE(StartFakeServer(&fakes[i]));
      addresses[i] = "127.0.0.1";
      ports[i] = fakes[i].port;
    }
    UseServers(addresses, ports, fakeCount);
  }
};

std::string Format(const char *format, int port) {
  char text[128];
  snprintf(text, sizeof text, format, port);
  return text;
}

// The record as the pass reset it, with only the start time of the exchange added.
void ExpectOnlyQueryStartTime(const ServerRecord &record, const char *address, uint16_t port) {
  ServerRecord expected;
  memset(&expected, 0, sizeof expected);
  CopyText(expected.address, sizeof expected.address, address);
  expected.port = port;
  expected.fromMasterList = 1;
  expected.queryStartTime = record.queryStartTime;
  EXPECT_NE(0u, record.queryStartTime);
  EXPECT_EQ(0, memcmp(&expected, &record, sizeof record)) << "reply data for " << address << ":" << port;
}

// The part-0 texts that name this port (":port" not followed by another digit), in order.
std::vector<std::string> TextsForPort(int port) {
  std::vector<std::string> texts;
  const std::string tag = ":" + std::to_string(port);
  for (const std::string &text : StatusTexts(0, tag)) {
    size_t at = text.find(tag);
    char next = at + tag.size() < text.size() ? text[at + tag.size()] : 0;
    if (next < '0' || next > '9') texts.push_back(text);
  }
  return texts;
}

bool HasRowFor(int recordIndex) {
  for (int row = 0; row < ServerRowCount(); row++) {
    if (ServerRowRecord(row) == recordIndex) return true;
  }
  return false;
}

TEST_F(QueryServerTest, AlphaExampleLandsAtRowZeroWithItsTexts) {
  FakeServer *alpha = AddFake();
  SetFakeReply(alpha, "\\hostname\\Alpha\\mapname\\q2dm1\\maxclients\\16", "12 48 \"Bob\"\n");
  ASSERT_NO_FATAL_FAILURE(UseFakes());
  ASSERT_TRUE(RunPass(5000));

  const ServerRecord &r = records[0];
  EXPECT_STREQ("Alpha", r.hostName);
  EXPECT_STREQ("q2dm1", r.mapName);
  EXPECT_EQ(16, r.maxClients);
  EXPECT_EQ(1, r.playerCount);
  EXPECT_STREQ("Bob", r.players[0].name);
  EXPECT_EQ(12, r.players[0].score);
  EXPECT_EQ(48, r.players[0].ping);
  EXPECT_GE(r.ping, 0);
  EXPECT_LT(r.ping, 500);

  // The request: exactly the 11 status bytes, once.
  EXPECT_EQ(1, alpha->requests);
  EXPECT_EQ(0, alpha->wrongRequests);

  // The row: inserted at 0 with callback text and the record index, in ping order, unsorted.
  int insert = FindEvent(QUERY_EVENT_INSERT);
  ASSERT_GE(insert, 0);
  const LVITEMA &item = queryEvents[insert].item;
  EXPECT_EQ((UINT)(LVIF_TEXT | LVIF_PARAM), item.mask);
  EXPECT_EQ(0, item.iItem);
  EXPECT_EQ(0, item.iSubItem);
  EXPECT_EQ(LPSTR_TEXTCALLBACKA, item.pszText);
  EXPECT_EQ(0, item.lParam);
  EXPECT_EQ(0, queryEvents[insert].result);
  EXPECT_EQ(-1, FindEvent(QUERY_EVENT_SORT));
  EXPECT_EQ(-1, FindEvent(QUERY_EVENT_INSERT, insert + 1));

  // The texts, in the order they were set, each with drawing type 0.
  const std::string querying = Format("Querying 127.0.0.1:%d...", alpha->port);
  std::vector<std::string> part0 = StatusTexts(0, "");
  std::vector<std::string> expected0 = {"Refreshing...", querying, "Found 1 player on 'Alpha'",
                                        "Completed. 1 of 1 server responded."};
  EXPECT_EQ(expected0, part0);
  EXPECT_EQ((std::vector<std::string>{"0 Players", "1 Player"}), StatusTexts(1, ""));
  EXPECT_EQ((std::vector<std::string>{"0 Servers", "1 Server"}), StatusTexts(2, ""));
  EXPECT_GT(FindStatus(1, "1 Player"), insert);
  EXPECT_GT(FindStatus(2, "1 Server"), FindStatus(1, "1 Player"));
  EXPECT_GT(FindStatus(0, "Found 1 player on 'Alpha'"), FindStatus(2, "1 Server"));
  EXPECT_EQ("Completed. 1 of 1 server responded.", StatusBarText(0));
  EXPECT_EQ("1 Player", StatusBarText(1));
  EXPECT_EQ("1 Server", StatusBarText(2));

  // What the list shows, asked from the main window as the list view asks it.
  ASSERT_EQ(1, ServerRowCount());
  EXPECT_EQ("Alpha", ServerCellText(0, 0));
  EXPECT_EQ(Format("127.0.0.1:%d", alpha->port), ServerCellText(0, 1));
  EXPECT_EQ("q2dm1", ServerCellText(0, 2));
  EXPECT_EQ("1 / 16", ServerCellText(0, 3));
  EXPECT_EQ(std::to_string(r.ping), ServerCellText(0, 4));
  EXPECT_TRUE(IsWindowEnabled(hwndRefreshButton));
  EXPECT_EQ(4, serverSortColumn);
}

// The three-attempt cases share one pass, so their seconds of waiting overlap.
TEST_F(QueryServerTest, AttemptsTimeOutsAndFailedReceives) {
  FakeServer *silent = AddFake();  // record 0: never answers
  silent->laterAction = FAKE_IGNORE;
  FakeServer *third = AddFake();  // record 1: answers only the third request
  third->script[0] = third->script[1] = FAKE_IGNORE;
  third->scriptLength = 2;
  SetFakeReply(third, "\\hostname\\Third", "");
  FakeServer *oversizeFirst = AddFake();  // record 2: two replies over 4096 bytes, then a fit one
  oversizeFirst->script[0] = oversizeFirst->script[1] = FAKE_OVERSIZE;
  oversizeFirst->scriptLength = 2;
  SetFakeReply(oversizeFirst, "\\hostname\\Fits", "1 2 \"p\"\n");
  FakeServer *oversize = AddFake();  // record 3: every reply over 4096 bytes
  oversize->laterAction = FAKE_OVERSIZE;
  ASSERT_NO_FATAL_FAILURE(UseFakes());
  const uint16_t closedPort = ClosedUdpPort();  // record 4: nothing listens there
  AppendServer("127.0.0.1", closedPort);
  ASSERT_TRUE(RunPass(8000));

  SCOPED_TRACE("silent server");
  const int silentPort = silent->port;
  EXPECT_EQ((std::vector<std::string>{Format("Querying 127.0.0.1:%d...", silentPort),
                                      Format("Retrying 127.0.0.1:%d (attempt 1)", silentPort),
                                      Format("Retrying 127.0.0.1:%d (attempt 2)", silentPort),
                                      Format("Retrying 127.0.0.1:%d (attempt 3)", silentPort),
                                      Format("No response from 127.0.0.1:%d", silentPort)}),
            TextsForPort(silentPort));
  ExpectOnlyQueryStartTime(records[0], "127.0.0.1", silent->port);
  EXPECT_FALSE(HasRowFor(0));
  ASSERT_EQ(3, silent->requests);
  for (int i = 1; i < 3; i++) {
    DWORD gap = silent->requestTimes[i] - silent->requestTimes[i - 1];
    EXPECT_GE(gap, 950u) << "each attempt waits its second";
    EXPECT_LT(gap, 1500u);
  }

  SCOPED_TRACE("answer to the third request");
  EXPECT_EQ((std::vector<std::string>{Format("Querying 127.0.0.1:%d...", third->port),
                                      Format("Retrying 127.0.0.1:%d (attempt 1)", third->port),
                                      Format("Retrying 127.0.0.1:%d (attempt 2)", third->port)}),
            TextsForPort(third->port));
  EXPECT_STREQ("Third", records[1].hostName);
  EXPECT_GE(records[1].ping, 2000);
  EXPECT_LT(records[1].ping, 2500);
  EXPECT_TRUE(HasRowFor(1));
  EXPECT_EQ(3, third->requests);

  // WSAEMSGSIZE: a failed receive shows the latest text again and retries at once, no wait.
  SCOPED_TRACE("failed receives retry at once");
  const std::string querying2 = Format("Querying 127.0.0.1:%d...", oversizeFirst->port);
  EXPECT_EQ((std::vector<std::string>{querying2, querying2, querying2}), TextsForPort(oversizeFirst->port));
  EXPECT_EQ(3, oversizeFirst->requests);
  EXPECT_STREQ("Fits", records[2].hostName);
  EXPECT_EQ(1, records[2].playerCount);
  EXPECT_LT(records[2].ping, 900) << "no attempt waited for its time-out";
  EXPECT_TRUE(HasRowFor(2));

  const std::string querying3 = Format("Querying 127.0.0.1:%d...", oversize->port);
  EXPECT_EQ((std::vector<std::string>{querying3, querying3, querying3, querying3,
                                      Format("No response from 127.0.0.1:%d", oversize->port)}),
            TextsForPort(oversize->port));
  EXPECT_EQ(3, oversize->requests);
  ExpectOnlyQueryStartTime(records[3], "127.0.0.1", oversize->port);
  EXPECT_FALSE(HasRowFor(3));
  int oversizeStart = FindStatus(0, querying3);
  int oversizeEnd = FindStatus(0, Format("No response from 127.0.0.1:%d", oversize->port));
  ASSERT_GE(oversizeStart, 0);
  ASSERT_GT(oversizeEnd, oversizeStart);
  EXPECT_LT(queryEvents[oversizeEnd].time - queryEvents[oversizeStart].time, 900u);

  // A closed port: Windows reports the ICMP port-unreachable as WSAECONNRESET from recvfrom,
  // so the three attempts fail at once and show "Querying" again each time. Wine 8 reports
  // nothing, so there each attempt waits its full second. Either way: no answer, no row.
  SCOPED_TRACE("closed port");
  std::vector<std::string> closed = TextsForPort(closedPort);
  ASSERT_FALSE(closed.empty());
  EXPECT_EQ(Format("No response from 127.0.0.1:%d", closedPort), closed.back());
  size_t retries = StatusTexts(0, Format("Retrying 127.0.0.1:%d", closedPort)).size();
  printf("[   INFO   ] the closed port %s\n", retries == 0 ? "was reported at once" : "stayed silent (Wine)");
  EXPECT_TRUE(retries == 0 || retries == 3) << retries;
  EXPECT_EQ(5u, closed.size());  // Querying, three retries or re-shown texts, No response
  ExpectOnlyQueryStartTime(records[4], "127.0.0.1", closedPort);
  EXPECT_FALSE(HasRowFor(4));

  SCOPED_TRACE("the pass");
  EXPECT_EQ(1, CountStatus(0, "Completed. 2 of 5 servers responded."));
  EXPECT_EQ(2, ServerRowCount());
  EXPECT_EQ("2 Servers", StatusBarText(2));
  EXPECT_EQ("1 Player", StatusBarText(1));
}

// An empty datagram is an answer. On Windows select reports it and recvfrom returns 0, so the
// server gets a row with empty texts. Wine 8 never reports the socket readable for it, so there
// the server looks silent. Both outcomes are checked in full; a mixture of them is a fault.
TEST_F(QueryServerTest, EmptyDatagramIsAnAnswerWhereTheSystemDeliversIt) {
  FakeServer *empty = AddFake();
  empty->laterAction = FAKE_EMPTY;
  ASSERT_NO_FATAL_FAILURE(UseFakes());
  ASSERT_TRUE(RunPass(6000));
  const ServerRecord &r = records[0];
  printf("[   INFO   ] the empty datagram %s\n", HasRowFor(0) ? "was an answer" : "never arrived (Wine)");
  if (HasRowFor(0)) {
    EXPECT_STREQ("", r.hostName);
    EXPECT_EQ(0, r.playerCount);
    EXPECT_LT(r.ping, 900);
    EXPECT_EQ(1, CountStatus(0, "Found 0 players on ''"));
    EXPECT_EQ(1, CountStatus(0, "Completed. 1 of 1 server responded."));
    EXPECT_EQ(1, empty->requests);
  } else {
    EXPECT_EQ(3u, StatusTexts(0, "Retrying 127.0.0.1:").size());
    EXPECT_EQ(1, CountStatus(0, Format("No response from 127.0.0.1:%d", empty->port)));
    EXPECT_EQ(1, CountStatus(0, "Completed. 0 of 1 server responded."));
    EXPECT_EQ(3, empty->requests);
    ExpectOnlyQueryStartTime(r, "127.0.0.1", empty->port);
  }
}

// The first label is over 63 characters, so the resolver refuses the name without asking any
// name server: the test sends nothing beyond this machine.
TEST_F(QueryServerTest, UnresolvableNameEndsThePass) {
  const std::string unresolvable = "no-such-host-" + std::string(60, 'x') + ".invalid";
  const char *name = unresolvable.c_str();
  uint16_t port = 27910;
  UseServers(&name, &port, 1);
  EnableWindow(hwndRefreshButton, FALSE);  // as the app creates it, before any pass completed
  queryEventCount = 0;
  ASSERT_TRUE(RunPass(30000));
  EXPECT_EQ((std::vector<std::string>{"Refreshing...", "Resolving '" + unresolvable + "'...",
                                      "Couldn't resolve '" + unresolvable + "'",
                                      "Completed. 0 of 1 server responded."}),
            StatusTexts(0, ""));
  EXPECT_TRUE(IsWindowEnabled(hwndRefreshButton));
  EXPECT_EQ(0, ServerRowCount());
  ServerRecord expected;
  memset(&expected, 0, sizeof expected);
  CopyText(expected.address, sizeof expected.address, name);
  expected.port = port;
  expected.fromMasterList = 1;
  EXPECT_EQ(0, memcmp(&expected, &records[0], sizeof expected)) << "not even a start time";
}

TEST_F(QueryServerTest, HostNameIsLookedUpAndQueriedAtItsAddress) {
  FakeServer *fake = AddFake();
  SetFakeReply(fake, "\\hostname\\Named", "");
  ASSERT_TRUE(StartFakeServer(fake));
  const char *name = "localhost";
  UseServers(&name, &fake->port, 1);
  ASSERT_TRUE(RunPass(10000));
  EXPECT_EQ((std::vector<std::string>{"Refreshing...", "Resolving 'localhost'...",
                                      Format("Querying 127.0.0.1:%d...", fake->port),
                                      "Found 0 players on 'Named'", "Completed. 1 of 1 server responded."}),
            StatusTexts(0, ""));
  EXPECT_EQ(Format("localhost:%d", fake->port), ServerCellText(0, 1));
}

// Replies that fill the whole buffer with overlong fields, or with noise, stay inside their
// fields and their record; the record after the table's end is not touched.
TEST_F(QueryServerTest, FullSizeAndGarbageRepliesNeverOverrun) {
  FakeServer *full = AddFake();
  std::string reply =
      "\xff\xff\xff\xff"
      "print\n\\hostname\\" +
      std::string(1000, 'H') + "\\mapname\\" + std::string(700, 'M') + "\\maxclients\\99999999999\n";
  while (reply.size() < RECEIVE_BUFFER_SIZE) reply += "-7 9 \"" + std::string(12, 'n') + "\"\n";
  reply.resize(RECEIVE_BUFFER_SIZE);  // exactly the buffer: it fits, with no room for a terminator
  memcpy(full->reply, reply.data(), reply.size());
  full->replyLength = (int)reply.size();
  FakeServer *noise = AddFake();
  noise->laterAction = FAKE_GARBAGE;
  FakeServer *justOver = AddFake();  // one byte more than the buffer: never an answer
  memcpy(justOver->reply, reply.data(), reply.size());
  justOver->reply[RECEIVE_BUFFER_SIZE] = '\n';
  justOver->replyLength = RECEIVE_BUFFER_SIZE + 1;
  ASSERT_NO_FATAL_FAILURE(UseFakes());
  ServerRecord sentinel;
  memset(&sentinel, 0xA5, sizeof sentinel);
  records[3] = sentinel;
  ASSERT_TRUE(RunPass(8000));

  EXPECT_EQ(std::string(255, 'H'), records[0].hostName);
  EXPECT_EQ(std::string(255, 'M'), records[0].mapName);
  EXPECT_EQ(INT32_MAX, records[0].maxClients);
  EXPECT_EQ(MAX_PLAYERS, records[0].playerCount);
  EXPECT_STREQ("nnnnnnnnnnnn", records[0].players[63].name);
  EXPECT_EQ(-7, records[0].players[63].score);
  EXPECT_EQ(1, records[0].fromMasterList);
  EXPECT_TRUE(HasRowFor(0));

  const ServerRecord &garbage = records[1];
  EXPECT_LT(strnlen(garbage.hostName, sizeof garbage.hostName), sizeof garbage.hostName);
  EXPECT_LT(strnlen(garbage.mapName, sizeof garbage.mapName), sizeof garbage.mapName);
  EXPECT_GE(garbage.playerCount, 0);
  EXPECT_LE(garbage.playerCount, MAX_PLAYERS);
  for (const PlayerEntry &p : garbage.players) EXPECT_LT(strnlen(p.name, sizeof p.name), sizeof p.name);
  EXPECT_STREQ("127.0.0.1", garbage.address);
  EXPECT_EQ(noise->port, garbage.port);
  EXPECT_EQ(1, garbage.fromMasterList);
  EXPECT_TRUE(HasRowFor(1)) << "any datagram counts as an answer";

  ExpectOnlyQueryStartTime(records[2], "127.0.0.1", justOver->port);
  EXPECT_EQ(3, justOver->requests);
  EXPECT_EQ(0, memcmp(&sentinel, &records[3], sizeof sentinel));
  EXPECT_EQ(1, CountStatus(0, "Completed. 2 of 3 servers responded."));
}

struct ParseJob {
  std::string reply;
  std::string hostName;
  int players;
  volatile LONG mismatches;
};

DWORD WINAPI ParseRepeatedly(LPVOID param) {
  ParseJob *job = (ParseJob *)param;
  for (int round = 0; round < 3000; round++) {
    static const ServerRecord blank = {};
    ServerRecord *r = new ServerRecord(blank);
    ParseStatusReply(r, job->reply.data(), (int32_t)job->reply.size());
    if (job->hostName != r->hostName || r->playerCount != job->players) job->mismatches++;
    delete r;
  }
  return 0;
}

// Many query threads parse at once; no tokenizer or line-reader state may be shared.
TEST(QueryReplyOnWindows, ParsesIndependentlyOnManyThreads) {
  ParseJob jobs[6];
  HANDLE threads[6];
  for (int i = 0; i < 6; i++) {
    std::string players;
    for (int k = 0; k < i * 5; k++) players += std::to_string(k) + " " + std::to_string(i) + " \"n\"\n";
    jobs[i].hostName = "host" + std::string(i * 7, (char)('a' + i));
    jobs[i].reply = "\xff\xff\xff\xffprint\n\\version\\x\\hostname\\" + jobs[i].hostName + "\\mapname\\m" +
                    std::to_string(i) + "\\\n" + players;
    jobs[i].players = i * 5;
    jobs[i].mismatches = 0;
    threads[i] = CreateThread(NULL, 0, ParseRepeatedly, &jobs[i], 0, NULL);
    ASSERT_NE(nullptr, threads[i]);
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(6, threads, TRUE, 60000));
  for (int i = 0; i < 6; i++) {
    CloseHandle(threads[i]);
    EXPECT_EQ(0, jobs[i].mismatches) << "job " << i;
  }
}

}  // namespace
