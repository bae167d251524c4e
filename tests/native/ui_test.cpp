// Layout formulas, cell texts, ping images and the sort rules of both lists.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "ui/ui.h"

namespace {

void ExpectRect(const ControlRect &r, int x, int y, int w, int h) {
  EXPECT_EQ(x, r.x);
  EXPECT_EQ(y, r.y);
  EXPECT_EQ(w, r.width);
  EXPECT_EQ(h, r.height);
}

TEST(MainLayout, ClientAreaOf554By375) {
  MainLayout l;
  ComputeMainLayout(554, 375, &l);
  ExpectRect(l.serverList, 0, 0, 554, 187);
  ExpectRect(l.playerList, 0, 189, 464, 165);
  ExpectRect(l.updateButton, 470, 201, 78, 24);
  ExpectRect(l.configButton, 470, 241, 78, 24);
  ExpectRect(l.refreshButton, 470, 281, 78, 24);
  ExpectRect(l.exitButton, 470, 321, 78, 24);
  ExpectRect(l.statusBar, 0, 0, 556, 0);
  const int serverWidths[] = {188, 107, 107, 69, 64};
  for (int i = 0; i < SERVER_COLUMNS; i++) EXPECT_EQ(serverWidths[i], l.serverColumnWidths[i]) << i;
  const int playerWidths[] = {184, 92, 92};
  for (int i = 0; i < PLAYER_COLUMNS; i++) EXPECT_EQ(playerWidths[i], l.playerColumnWidths[i]) << i;
  EXPECT_EQ(332, l.statusEdges[0]);
  EXPECT_EQ(450, l.statusEdges[1]);
  EXPECT_EQ(568, l.statusEdges[2]);
}

TEST(MainLayout, OddHeightRoundsHalfDown) {
  MainLayout l;
  ComputeMainLayout(554, 376, &l);
  ExpectRect(l.serverList, 0, 0, 554, 188);
  ExpectRect(l.playerList, 0, 190, 464, 166);
  ComputeMainLayout(554, 377, &l);
  ExpectRect(l.serverList, 0, 0, 554, 188);  // one pixel shorter than half
  ExpectRect(l.playerList, 0, 190, 464, 166);
  EXPECT_EQ(377 - 54, l.exitButton.y);
}

TEST(MainLayout, FixedPixelsScaleWithTheDpi) {
  MainLayout l;
  ComputeScaledLayout(554, 375, 144, &l);
  ExpectRect(l.exitButton, 554 - 126, 375 - 81, 117, 36);
  ExpectRect(l.playerList, 0, 187 + 3, 554 - 135, 187 - 33);
  ComputeScaledLayout(554, 375, 192, &l);
  ExpectRect(l.refreshButton, 554 - 168, 375 - 188, 156, 48);
  EXPECT_EQ(18, ScaleToDpi(14, 120));  // halves round up, as MulDiv's do
}

ServerRecord MakeServer(const char *host, const char *address, int players, int ping) {
  ServerRecord r;
  memset(&r, 0, sizeof r);
  strcpy(r.hostName, host);
  strcpy(r.address, address);
  strcpy(r.mapName, "q2dm1");
  r.playerCount = players;
  r.ping = ping;
  return r;
}

TEST(ServerCells, TextsOfEveryColumn) {
  ServerRecord r = MakeServer("Alpha", "10.0.0.5", 3, 42);
  r.port = 910;
  r.maxClients = 16;
  char buffer[64];
  const char *expected[] = {"Alpha", "10.0.0.5:910", "q2dm1", "3 / 16", "42"};
  for (int c = 0; c < SERVER_COLUMNS; c++) {
    SCOPED_TRACE(c);
    ASSERT_TRUE(FormatServerCell(&r, c, buffer, sizeof buffer));
    EXPECT_STREQ(expected[c], buffer);
  }
  EXPECT_FALSE(FormatServerCell(&r, 5, buffer, sizeof buffer));
  r.ping = -5;
  FormatServerCell(&r, 4, buffer, sizeof buffer);
  EXPECT_STREQ("-5", buffer);
  r.port = 65535;
  FormatServerCell(&r, 1, buffer, sizeof buffer);
  EXPECT_STREQ("10.0.0.5:65535", buffer);  // the port is unsigned
}

TEST(ServerCells, CutToTheRequestBuffer) {
  ServerRecord r = MakeServer("A long host name", "192.168.100.200", 12, 123);
  r.port = 27910;
  char buffer[8];
  memset(buffer, 'z', sizeof buffer);
  FormatServerCell(&r, 0, buffer, 5);
  EXPECT_STREQ("A lo", buffer);
  EXPECT_EQ('z', buffer[5]);  // nothing written past the given size
  FormatServerCell(&r, 1, buffer, 6);
  EXPECT_STREQ("192.1", buffer);
  EXPECT_FALSE(FormatServerCell(&r, 0, buffer, 0));
}

TEST(PlayerCells, TextsAndHighBytes) {
  PlayerEntry p;
  memset(&p, 0, sizeof p);
  strcpy(p.name, "B\xe9la");
  p.score = -3;
  p.ping = 48;
  char buffer[32];
  FormatPlayerCell(&p, 0, buffer, sizeof buffer);
  EXPECT_STREQ("B\xe9la", buffer);
  FormatPlayerCell(&p, 1, buffer, sizeof buffer);
  EXPECT_STREQ("-3", buffer);
  FormatPlayerCell(&p, 2, buffer, sizeof buffer);
  EXPECT_STREQ("48", buffer);
  EXPECT_FALSE(FormatPlayerCell(&p, 3, buffer, sizeof buffer));
}

TEST(PingImage, Thresholds) {
  EXPECT_EQ(1, PingImageIndex(-1));
  EXPECT_EQ(1, PingImageIndex(0));
  EXPECT_EQ(1, PingImageIndex(150));
  EXPECT_EQ(2, PingImageIndex(151));
  EXPECT_EQ(2, PingImageIndex(300));
  EXPECT_EQ(3, PingImageIndex(301));
  EXPECT_EQ(3, PingImageIndex(INT32_MAX));
}

// Sorts indices the way the list view would, with the sort variable as it stood before the click.
std::vector<int> SortServers(std::vector<ServerRecord> &rs, int column, int32_t *sortColumn) {
  std::vector<int> order;
  for (int i = 0; i < (int)rs.size(); i++) order.push_back(i);
  int32_t before = *sortColumn;
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return CompareServerRecords(&rs[a], &rs[b], column, before) < 0; });
  *sortColumn = NextSortColumn(*sortColumn, column);
  return order;
}

TEST(ServerSort, AddressIsByTextAndHostNameIsCaseSensitive) {
  std::vector<ServerRecord> rs = {MakeServer("beta", "10.0.0.9", 0, 0), MakeServer("Zulu", "10.0.0.10", 0, 0),
                                  MakeServer("alpha", "10.0.0.1", 0, 0)};
  int32_t sort = -1;
  EXPECT_EQ((std::vector<int>{2, 1, 0}), SortServers(rs, 1, &sort));  // 10.0.0.1 < 10.0.0.10 < 10.0.0.9
  sort = -1;
  EXPECT_EQ((std::vector<int>{1, 2, 0}), SortServers(rs, 0, &sort));  // upper case first
}

TEST(ServerSort, PlayersToggleFullestEmptiestFullest) {
  std::vector<ServerRecord> rs = {MakeServer("a", "1", 2, 0), MakeServer("b", "2", 9, 0),
                                  MakeServer("c", "3", 5, 0)};
  int32_t sort = -1;
  EXPECT_EQ((std::vector<int>{1, 2, 0}), SortServers(rs, 3, &sort));
  EXPECT_EQ(3, sort);
  EXPECT_EQ((std::vector<int>{0, 2, 1}), SortServers(rs, 3, &sort));
  EXPECT_EQ(-1, sort);
  EXPECT_EQ((std::vector<int>{1, 2, 0}), SortServers(rs, 3, &sort));
}

TEST(ServerSort, PingAscendingUnlessAlreadySortedByPing) {
  std::vector<ServerRecord> rs = {MakeServer("a", "1", 0, 300), MakeServer("b", "2", 0, -1),
                                  MakeServer("c", "3", 0, 20)};
  int32_t sort = -1;
  EXPECT_EQ((std::vector<int>{1, 2, 0}), SortServers(rs, 4, &sort));
  sort = 4;  // as a completed pass leaves it: the first click sorts by descending ping
  EXPECT_EQ((std::vector<int>{0, 2, 1}), SortServers(rs, 4, &sort));
  EXPECT_EQ(-1, sort);
  sort = 2;  // another column's state never reverses this one
  EXPECT_EQ((std::vector<int>{1, 2, 0}), SortServers(rs, 4, &sort));
  EXPECT_EQ(0, CompareServerRecords(&rs[0], &rs[1], 7, -1));
}

TEST(PlayerSort, ScoreDescendingNameAscendingPingAscending) {
  PlayerEntry p[3];
  memset(p, 0, sizeof p);
  strcpy(p[0].name, "bob");
  p[0].score = 5;
  p[0].ping = 80;
  strcpy(p[1].name, "Ann");
  p[1].score = 12;
  p[1].ping = 20;
  strcpy(p[2].name, "cy");
  p[2].score = -2;
  p[2].ping = 50;
  EXPECT_LT(ComparePlayerEntries(&p[1], &p[0], 1, -1), 0);  // higher score first
  EXPECT_GT(ComparePlayerEntries(&p[1], &p[0], 1, 1), 0);   // reversed on the second click
  EXPECT_LT(ComparePlayerEntries(&p[1], &p[0], 0, -1), 0);  // "Ann" < "bob" byte-wise
  EXPECT_LT(ComparePlayerEntries(&p[1], &p[2], 2, -1), 0);
  EXPECT_EQ(0, ComparePlayerEntries(&p[0], &p[1], 3, -1));
}

}  // namespace
