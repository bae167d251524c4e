// Status request bytes and reply parsing: serverinfo tokens, player lines, limits, damaged replies.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "query/reply.h"

namespace {

// A record as a query thread holds it just before parsing: address, port and the master-list
// flag from the table, the start time and ping already taken, every reply field empty.
void PrepareRecord(ServerRecord *record) {
  memset(record, 0, sizeof *record);
  CopyText(record->address, sizeof record->address, "10.0.0.5");
  record->port = 910;
  record->fromMasterList = 1;
  record->queryStartTime = 1234;
  record->ping = 77;
}

// Parses exactly the given bytes (no terminator is passed along).
void Parse(ServerRecord *record, const std::string &bytes) {
  PrepareRecord(record);
  ParseStatusReply(record, bytes.data(), (int32_t)bytes.size());
}

// The fields a reply must never touch.
void ExpectUntouchedFields(const ServerRecord &record) {
  EXPECT_STREQ("10.0.0.5", record.address);
  EXPECT_EQ(910, record.port);
  EXPECT_EQ(1, record.fromMasterList);
  EXPECT_EQ(1234u, record.queryStartTime);
  EXPECT_EQ(77, record.ping);
  EXPECT_EQ(0, record.reserved[0]);
  EXPECT_EQ(0, record.reserved[1]);
}

// clang-format off
const std::string kHeader = "\xff\xff\xff\xff" "print\n";  // line 1: marker and command, skipped
// clang-format on

TEST(StatusQuery, IsTheElevenByteConnectionlessStatusRequest) {
  // clang-format off
  const unsigned char expected[STATUS_QUERY_SIZE] = {
      0xFF, 0xFF, 0xFF, 0xFF,              // connectionless-packet marker
      's', 't', 'a', 't', 'u', 's',        // the command
      0x00};                               // its terminator, sent with it
  // clang-format on
  ASSERT_EQ(11, STATUS_QUERY_SIZE);
  EXPECT_EQ(0, memcmp(expected, STATUS_QUERY, sizeof expected));
}

TEST(StatusReply, AlphaExample) {
  // clang-format off
  const std::string reply = kHeader +
      "\\hostname\\Alpha"     // line 2: key hostname, value Alpha
      "\\mapname\\q2dm1"      //         key mapname, value q2dm1
      "\\maxclients\\16\n"    //         key maxclients, value 16
      "12 48 \"Bob\"\n";      // line 3: score 12, ping 48, name Bob
  // clang-format on
  ServerRecord r;
  Parse(&r, reply);
  EXPECT_STREQ("Alpha", r.hostName);
  EXPECT_STREQ("q2dm1", r.mapName);
  EXPECT_EQ(16, r.maxClients);
  EXPECT_EQ(1, r.playerCount);
  EXPECT_STREQ("Bob", r.players[0].name);
  EXPECT_EQ(12, r.players[0].score);
  EXPECT_EQ(48, r.players[0].ping);
  ExpectUntouchedFields(r);
}

TEST(ServerInfo, KeysAreComparedWithoutLetterCase) {
  ServerRecord r;
  PrepareRecord(&r);
  ParseServerInfo(&r, "\\HOSTNAME\\Beta\\MapName\\base1\\MaxClients\\8");
  EXPECT_STREQ("Beta", r.hostName);
  EXPECT_STREQ("base1", r.mapName);
  EXPECT_EQ(8, r.maxClients);
  ExpectUntouchedFields(r);
}

TEST(ServerInfo, EmptyValueTakesTheNextKeyAsItsValue) {
  ServerRecord r;
  PrepareRecord(&r);
  // key hostname, empty value, key mapname, value x
  ParseServerInfo(&r, "\\hostname\\\\mapname\\x");
  EXPECT_STREQ("mapname", r.hostName);
  EXPECT_STREQ("x", r.mapName);
}

TEST(ServerInfo, ValueThatIsAKeyNameActsAsThatKey) {
  ServerRecord r;
  PrepareRecord(&r);
  // key version, value "hostname"; then Gamma follows the token hostname
  ParseServerInfo(&r, "\\version\\hostname\\Gamma\\maxclients\\mapname\\q2dm3");
  EXPECT_STREQ("Gamma", r.hostName);
  EXPECT_STREQ("q2dm3", r.mapName);
  EXPECT_EQ(0, r.maxClients);  // its "value" was the token mapname
}

TEST(ServerInfo, BackslashRunsOnlySeparateAndLastValueWins) {
  ServerRecord r;
  PrepareRecord(&r);
  ParseServerInfo(&r, "\\\\\\hostname\\\\\\First\\dmflags\\16\\hostname\\Second\\\\");
  EXPECT_STREQ("Second", r.hostName);
  EXPECT_STREQ("", r.mapName);
}

TEST(ServerInfo, KeysWithoutValuesAndUnknownKeysSetNothing) {
  struct Case {
    const char *line;
  } cases[] = {{""},
               {"\\"},
               {"\\\\\\"},
               {"\\hostname"},
               {"hostname\\"},
               {"\\fraglimit\\20\\version\\3.20"},
               {"\\hostnameX\\Alpha"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    ServerRecord r;
    PrepareRecord(&r);
    ParseServerInfo(&r, c.line);
    EXPECT_STREQ("", r.hostName);
    EXPECT_STREQ("", r.mapName);
    EXPECT_EQ(0, r.maxClients);
    ExpectUntouchedFields(r);
  }
}

TEST(ServerInfo, MaxClientsIsReadLikeTheStandardConversion) {
  struct Case {
    const char *line;
    int32_t expected;
  } cases[] = {
      {"\\maxclients\\16", 16},
      {"\\maxclients\\ 12x", 12},  // leading space skipped, stops at x
      {"\\maxclients\\-5", -5},
      {"\\maxclients\\abc", 0},                  // no digit
      {"\\maxclients\\99999999999", INT32_MAX},  // saturates instead of overflowing
      {"\\maxclients\\-99999999999", INT32_MIN},
      {"\\maxclients\\32\\hostname\\7", 32},  // the next backslash ends the number
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    ServerRecord r;
    PrepareRecord(&r);
    ParseServerInfo(&r, c.line);
    EXPECT_EQ(c.expected, r.maxClients);
  }
}

TEST(ServerInfo, OverlongValuesAreCutTo255Characters) {
  std::string longHost(1000, 'h');
  std::string longMap(600, 'm');
  std::string line = "\\hostname\\" + longHost + "\\mapname\\" + longMap + "\\maxclients\\4";
  ServerRecord r;
  PrepareRecord(&r);
  ParseServerInfo(&r, line.c_str());
  EXPECT_EQ(std::string(255, 'h'), r.hostName);
  EXPECT_EQ(std::string(255, 'm'), r.mapName);
  EXPECT_EQ(4, r.maxClients);
  ExpectUntouchedFields(r);
}

TEST(PlayerLine, FieldsAndNames) {
  struct Case {
    const char *line;
    int32_t score, ping;
    const char *name;
  } cases[] = {
      {"12 48 \"Bob\"", 12, 48, "Bob"},
      {"3 50 \"Big Bob\"", 3, 50, "Big Bob"},  // a space inside the name stays
      {"  7   80   \"X\"", 7, 80, "X"},        // runs of spaces between the fields
      {"-4 999 \"neg\"", -4, 999, "neg"},
      {"1 2 \"a\"b\"", 1, 2, "a\"b"},  // up to the last quote of the line
      {"1 2 \"quoted\" trailing", 1, 2, "quoted"},
      {"0 0 \"\"", 0, 0, ""},    // an empty name is still a name
      {"x y \"Z\"", 0, 0, "Z"},  // fields that are no number read 0
      {"99999999999 -99999999999 \"N\"", INT32_MAX, INT32_MIN, "N"},
      {"5 6 \"ABCDEFGHIJKLMNOPQRST\"", 5, 6, "ABCDEFGHIJKLMNO"},  // cut to 15 characters
      {"5 6 \"\xe9t\xe9\"", 5, 6, "\xe9t\xe9"},                   // bytes above 127 copied as they are
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    PlayerEntry p;
    memset(&p, 0x5A, sizeof p);
    ASSERT_TRUE(ParsePlayerLine(&p, c.line));
    EXPECT_EQ(c.score, p.score);
    EXPECT_EQ(c.ping, p.ping);
    EXPECT_STREQ(c.name, p.name);
    EXPECT_LT(strlen(p.name), sizeof p.name);
  }
}

TEST(PlayerLine, LinesWithoutTwoFieldsAndAQuotedNameAreSkippedUntouched) {
  const char *lines[] = {
      "",             // an empty line
      "   ",          // spaces only
      "garbage",      // one field
      "12 48",        // no name
      "12 48 Bob",    // a name without quotes
      "12 48 Bob\"",  // the opening quote is missing
      "12 \"Bob\"",   // only one number before the name
      "12 48 \"Bob",  // the closing quote is missing (a cut-off reply)
      "12 48 \"",     // a lone quote
      "\"Bob\"",
  };
  for (const char *line : lines) {
    SCOPED_TRACE(line);
    PlayerEntry p;
    memset(&p, 0x5A, sizeof p);
    PlayerEntry before = p;
    EXPECT_FALSE(ParsePlayerLine(&p, line));
    EXPECT_EQ(0, memcmp(&before, &p, sizeof p));
  }
}

TEST(StatusReply, SkippedLinesDoNotCountAndDoNotLeaveGaps) {
  const std::string reply = kHeader +
                            "\\hostname\\H\n"  // line 2: serverinfo
                            "1 10 \"one\"\n"   // player 0
                            "\n"               // empty line: skipped
                            "junk\n"           // no fields: skipped
                            "2 20 \"two\"\n"   // player 1
                            "3 30 \"thr";      // cut off inside the name, no line feed: skipped
  ServerRecord r;
  Parse(&r, reply);
  EXPECT_EQ(2, r.playerCount);
  EXPECT_STREQ("one", r.players[0].name);
  EXPECT_STREQ("two", r.players[1].name);
  EXPECT_EQ(20, r.players[1].ping);
  EXPECT_STREQ("", r.players[2].name);
}

TEST(StatusReply, PlayerLinesBeyondThe64thAreIgnored) {
  std::string reply = kHeader + "\\hostname\\Full\n";
  for (int i = 0; i < 70; i++) {
    reply += std::to_string(i) + " " + std::to_string(100 + i) + " \"p" + std::to_string(i) + "\"\n";
  }
  ServerRecord r;
  Parse(&r, reply);
  EXPECT_EQ(64, r.playerCount);
  EXPECT_STREQ("p0", r.players[0].name);
  EXPECT_STREQ("p63", r.players[63].name);
  EXPECT_EQ(63, r.players[63].score);
  EXPECT_EQ(163, r.players[63].ping);
  EXPECT_EQ(1, r.fromMasterList);  // the field right after the last entry
}

TEST(StatusReply, ShortReplies) {
  struct Case {
    const char *label;
    std::string bytes;
    const char *hostName;
  } cases[] = {
      {"empty datagram", "", ""},
      {"header without line feed", "\xff\xff\xff\xffprint", ""},
      {"header only", kHeader, ""},
      {"serverinfo without line feed", kHeader + "\\hostname\\Tail", "Tail"},
      {"serverinfo, no players", kHeader + "\\hostname\\Quiet\n", "Quiet"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    ServerRecord r;
    Parse(&r, c.bytes);
    EXPECT_STREQ(c.hostName, r.hostName);
    EXPECT_STREQ("", r.mapName);
    EXPECT_EQ(0, r.playerCount);
    ExpectUntouchedFields(r);
  }
}

TEST(StatusReply, ReadsOnlyTheGivenLength) {
  // The bytes after the count would add a map and a player if they were read.
  const char bytes[] =
      "\xff\xff\xff\xffprint\n\\hostname\\Short\n"
      "\\mapname\\beyond\n1 2 \"ghost\"\n";
  const int32_t length = (int32_t)(strchr(bytes, 'S') - bytes) + 5;  // ends inside line 2
  ServerRecord r;
  PrepareRecord(&r);
  ParseStatusReply(&r, bytes, length);
  EXPECT_STREQ("Short", r.hostName);
  EXPECT_STREQ("", r.mapName);
  EXPECT_EQ(0, r.playerCount);
}

TEST(StatusReply, NulInsideALineEndsThatLine) {
  const std::string reply =
      kHeader + std::string("\\hostname\\Al\0pha\\mapname\\m\n", 27) + "1 2 \"B\0ob\"\n";
  ServerRecord r;
  Parse(&r, reply);
  EXPECT_STREQ("Al", r.hostName);
  EXPECT_STREQ("", r.mapName);
  EXPECT_EQ(0, r.playerCount);  // "1 2 \"B" has no closing quote
}

// Deterministic noise: a damaged or hostile datagram of up to 4096 bytes.
std::string NoiseBytes(uint32_t seed, size_t length, bool withLineFeeds) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; i++) {
    seed = seed * 1664525u + 1013904223u;
    char c = (char)(seed >> 24);
    if (!withLineFeeds && c == '\n') c = 'n';
    if (withLineFeeds && (seed & 0x700) == 0) c = '\n';
    if ((seed & 0x3000) == 0) c = (seed & 0x4000) ? '\\' : '"';
    bytes[i] = c;
  }
  return bytes;
}

TEST(StatusReply, GarbageNeverOverrunsAField) {
  for (uint32_t seed = 1; seed <= 40; seed++) {
    SCOPED_TRACE(seed);
    ServerRecord r;
    Parse(&r, NoiseBytes(seed, 4096, seed % 2 == 0));
    EXPECT_LT(strlen(r.hostName), sizeof r.hostName);
    EXPECT_LT(strlen(r.mapName), sizeof r.mapName);
    EXPECT_GE(r.playerCount, 0);
    EXPECT_LE(r.playerCount, MAX_PLAYERS);
    for (int i = 0; i < MAX_PLAYERS; i++) EXPECT_LT(strlen(r.players[i].name), sizeof r.players[i].name);
    ExpectUntouchedFields(r);
  }
}

TEST(StatusReply, OversizeFieldsInAFullDatagramStayInTheirFields) {
  std::string reply =
      kHeader + "\\hostname\\" + std::string(1200, 'H') + "\\mapname\\" + std::string(700, 'M') + "\n";
  while (reply.size() < 4096 - 40) reply += "1 1 \"" + std::string(20, 'n') + "\"\n";  // over 64 lines
  reply.resize(4096);
  ServerRecord r;
  Parse(&r, reply);
  EXPECT_EQ(std::string(255, 'H'), r.hostName);
  EXPECT_EQ(std::string(255, 'M'), r.mapName);
  EXPECT_EQ(MAX_PLAYERS, r.playerCount);
  EXPECT_EQ(std::string(15, 'n'), r.players[63].name);
  ExpectUntouchedFields(r);
}

}  // namespace
