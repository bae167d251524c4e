// Lab logic: option and config parsing, status replies of every mode, master bodies, HTTP text.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "../../tools/lab/lab_reply.h"

namespace {

const std::string REPLY_HEADER = "\xff\xff\xff\xffprint\n";

std::vector<std::string> SplitAt(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// Value of key in a \key\value serverinfo line, or "<none>".
std::string InfoValue(const std::string &info, const std::string &key) {
  std::vector<std::string> parts = SplitAt(info, '\\');
  for (size_t i = 1; i + 1 < parts.size(); i += 2)
    if (parts[i] == key) return parts[i + 1];
  return "<none>";
}

LabServer ServerFrom(const char *options) {
  LabServer server;
  char error[LAB_ERROR_SIZE] = "";
  EXPECT_TRUE(ParseServerOptions(options, &server, error, sizeof(error))) << error;
  return server;
}

std::string ReplyOf(const char *options) {
  std::string reply;
  BuildStatusReply(ServerFrom(options), &reply);
  return reply;
}

std::vector<std::string> Fields(const char *text, const char *separators, char comment) {
  std::vector<std::string> fields;
  char error[LAB_ERROR_SIZE] = "";
  EXPECT_TRUE(SplitFields(text, strlen(text), separators, comment, &fields, error, sizeof(error))) << error;
  return fields;
}

TEST(LabSplitFields, QuotesKeepSeparatorsAndEscapes) {
  std::vector<std::string> fields =
      Fields("port=1  host=\"A, B \\\"C\\\" \\\\ D\"\tmap=x # note", " \t", '#');
  ASSERT_EQ(3u, fields.size());
  EXPECT_EQ("port=1", fields[0]);
  EXPECT_EQ("host=A, B \"C\" \\ D", fields[1]);
  EXPECT_EQ("map=x", fields[2]);
  EXPECT_EQ(0u, Fields("   # only a comment", " ", '#').size());
  EXPECT_EQ(2u, Fields("a=1,,b=2,", ",", 0).size());
  // Outside quotes a backslash is an ordinary character.
  EXPECT_EQ("host=a\\b", Fields("host=a\\b", ",", 0)[0]);
  EXPECT_EQ("host=#1", Fields("host=\"#1\"", " ", '#')[0]);
}

TEST(LabSplitFields, UnterminatedQuoteFails) {
  std::vector<std::string> fields;
  char error[LAB_ERROR_SIZE] = "";
  const char text[] = "host=\"open";
  EXPECT_FALSE(SplitFields(text, strlen(text), " ", '#', &fields, error, sizeof(error)));
  EXPECT_NE(std::string::npos, std::string(error).find("quote"));
}

TEST(LabSplitFields, StopsAtLengthWithoutNul) {
  const char text[] = {'a', '=', '1', ' ', 'b', '=', '2'};
  std::vector<std::string> fields;
  char error[LAB_ERROR_SIZE] = "";
  ASSERT_TRUE(SplitFields(text, 5, " ", 0, &fields, error, sizeof(error)));
  ASSERT_EQ(2u, fields.size());
  EXPECT_EQ("b", fields[1]);
}

TEST(LabParsePlayers, ListsAndBadEntries) {
  std::vector<LabPlayer> players;
  char error[LAB_ERROR_SIZE] = "";
  ASSERT_TRUE(ParsePlayers("Big Mike/12/45; A/B/-3/80;", &players, error, sizeof(error)));
  ASSERT_EQ(2u, players.size());
  EXPECT_EQ("Big Mike", players[0].name);
  EXPECT_EQ(12, players[0].score);
  EXPECT_EQ(45, players[0].ping);
  EXPECT_EQ("A/B", players[1].name);  // the numbers are taken from the right
  EXPECT_EQ(-3, players[1].score);
  EXPECT_EQ(80, players[1].ping);
  const char *bad[] = {"Mike/12", "Mike/x/5", "Mike/1/5ms", "Mike/1/-5", "/5", "Mike"};
  for (const char *text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParsePlayers(text, &players, error, sizeof(error)));
  }
}

TEST(LabServerOptions, DefaultsAndEveryKey) {
  LabServer server = ServerFrom("port=27910");
  EXPECT_EQ(27910, server.port);
  EXPECT_EQ("q2dm1", server.map);
  EXPECT_EQ(16, server.maxClients);
  EXPECT_EQ(0, server.delayMs);
  EXPECT_EQ(MODE_NORMAL, server.mode);
  EXPECT_EQ("Varnet Lab 27910", ServerHostName(server));

  server = ServerFrom(
      "port=27911,host=Alpha,map=base1,maxclients=8,delay=250,ignore=2,"
      "players=Ann/3/80;Bo/1/20,twice=1,fromport=27999,mode=silent");
  EXPECT_EQ("Alpha", server.host);
  EXPECT_EQ("base1", server.map);
  EXPECT_EQ(8, server.maxClients);
  EXPECT_EQ(250, server.delayMs);
  EXPECT_EQ(2, server.ignoreCount);
  EXPECT_EQ(2u, server.players.size());
  EXPECT_EQ(1, server.twice);
  EXPECT_EQ(27999, server.fromPort);
  EXPECT_EQ(MODE_SILENT, server.mode);
  EXPECT_EQ("", ServerHostName(ServerFrom("port=1,host=")));
}

TEST(LabServerOptions, RejectsBadInput) {
  const char *bad[] = {"host=A",          "port=0",           "port=65536",       "port=12x",
                       "port=1,delay=-1", "port=1,color=red", "port=1,mode=loud", "port=1,twice=2",
                       "port=1,noequals", "port=1,=5",        "port=1,players=A"};
  for (const char *text : bad) {
    SCOPED_TRACE(text);
    LabServer server;
    char error[LAB_ERROR_SIZE] = "";
    EXPECT_FALSE(ParseServerOptions(text, &server, error, sizeof(error)));
    EXPECT_NE('\0', error[0]);
  }
}

TEST(LabMasterOptions, DefaultsKeysAndErrors) {
  LabMaster master;
  char error[LAB_ERROR_SIZE] = "";
  ASSERT_TRUE(ParseMasterOptions("", &master, error, sizeof(error)));
  EXPECT_TRUE(master.enabled);
  EXPECT_EQ(27900, master.port);
  EXPECT_EQ(MASTER_LIST, master.mode);
  EXPECT_EQ(16, master.piece);
  EXPECT_EQ(500, master.pauseMs);
  ASSERT_TRUE(ParseMasterOptions("port=28000,mode=size,size=52428800,piece=4,pause=0,file=/x", &master, error,
                                 sizeof(error)));
  EXPECT_EQ(28000, master.port);
  EXPECT_EQ(MASTER_SIZE, master.mode);
  EXPECT_TRUE(master.sizeSet);
  EXPECT_EQ(52428800u, master.size);
  EXPECT_EQ(4, master.piece);
  EXPECT_EQ(0, master.pauseMs);
  EXPECT_EQ("/x", master.file);
  ASSERT_TRUE(ParseMasterOptions("mode=slowhead,gate=/tmp/open", &master, error, sizeof(error)));
  EXPECT_EQ(MASTER_SLOWHEAD, master.mode);
  EXPECT_EQ("/tmp/open", master.gate);
  const char *bad[] = {"mode=fast", "piece=0", "size=-1", "port=99999", "colour=1"};
  for (const char *text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseMasterOptions(text, &master, error, sizeof(error)));
  }
}

TEST(LabConfigLine, ServersMasterBlanksAndErrors) {
  ConfigLineKind kind;
  LabServer server;
  LabMaster master;
  char error[LAB_ERROR_SIZE] = "";
  const char serverLine[] =
      "port=27912 host=\"[EU] Rail, \\\"Arena\\\"\" players=\"Big Mike/5/40;Ann Lee/2/90\"\n";
  ASSERT_TRUE(ParseConfigLine(serverLine, strlen(serverLine), &kind, &server, &master, error, sizeof(error)))
      << error;
  EXPECT_EQ(CONFIG_SERVER, kind);
  EXPECT_EQ("[EU] Rail, \"Arena\"", server.host);
  ASSERT_EQ(2u, server.players.size());
  EXPECT_EQ("Ann Lee", server.players[1].name);

  const char masterLine[] = "master port=27901 mode=slow pause=20  # quick";
  ASSERT_TRUE(ParseConfigLine(masterLine, strlen(masterLine), &kind, &server, &master, error, sizeof(error)));
  EXPECT_EQ(CONFIG_MASTER, kind);
  EXPECT_EQ(27901, master.port);
  EXPECT_EQ(MASTER_SLOW, master.mode);
  EXPECT_EQ(20, master.pauseMs);

  const char *blank[] = {"", "   \t\r\n", "# port=5"};
  for (const char *text : blank) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(ParseConfigLine(text, strlen(text), &kind, &server, &master, error, sizeof(error)));
    EXPECT_EQ(CONFIG_BLANK, kind);
  }
  const char *bad[] = {"host=NoPort", "port=5 host=\"open", "master mode=nope", "port=5 x"};
  for (const char *text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseConfigLine(text, strlen(text), &kind, &server, &master, error, sizeof(error)));
  }
}

TEST(LabCheckSetup, ClashingPortsAndMissingSize) {
  std::vector<LabServer> servers;
  LabMaster master;
  InitLabMaster(&master);
  char error[LAB_ERROR_SIZE] = "";
  servers.push_back(ServerFrom("port=27910,fromport=27920"));
  servers.push_back(ServerFrom("port=27911"));
  EXPECT_TRUE(CheckLabSetup(servers, master, error, sizeof(error))) << error;
  servers.push_back(ServerFrom("port=27920"));
  EXPECT_FALSE(CheckLabSetup(servers, master, error, sizeof(error)));
  servers.pop_back();
  servers.push_back(ServerFrom("port=27911"));
  EXPECT_FALSE(CheckLabSetup(servers, master, error, sizeof(error)));
  servers.pop_back();
  servers.push_back(ServerFrom("port=27930,fromport=27930"));
  EXPECT_FALSE(CheckLabSetup(servers, master, error, sizeof(error)));
  servers.pop_back();
  master.enabled = true;
  master.mode = MASTER_SIZE;
  EXPECT_FALSE(CheckLabSetup(servers, master, error, sizeof(error)));
  master.sizeSet = true;
  EXPECT_TRUE(CheckLabSetup(servers, master, error, sizeof(error)));
}

TEST(LabStatusRequest, PrefixMatters) {
  EXPECT_TRUE(IsStatusRequest("\xff\xff\xff\xffstatus\0", 11));
  EXPECT_TRUE(IsStatusRequest("\xff\xff\xff\xffstatus", 10));
  EXPECT_FALSE(IsStatusRequest("\xff\xff\xff\xffstatu", 9));
  EXPECT_FALSE(IsStatusRequest("\xff\xff\xff\xfestatus\0", 11));
  EXPECT_FALSE(IsStatusRequest("\xff\xff\xff\xffinfo\0\0\0", 11));
}

TEST(LabStatusReply, NormalLayout) {
  std::string reply = ReplyOf("port=27910,host=Alpha,map=q2dm3,maxclients=12,players=Ann Lee/7/45;Bo/-2/130");
  ASSERT_EQ(0u, reply.find(REPLY_HEADER));
  std::vector<std::string> lines = SplitAt(reply.substr(REPLY_HEADER.size()), '\n');
  ASSERT_EQ(4u, lines.size());  // serverinfo, two players, empty rest after the last LF
  EXPECT_EQ("Alpha", InfoValue(lines[0], "hostname"));
  EXPECT_EQ("q2dm3", InfoValue(lines[0], "mapname"));
  EXPECT_EQ("12", InfoValue(lines[0], "maxclients"));
  EXPECT_EQ("varnet", InfoValue(lines[0], "gamename"));
  EXPECT_EQ("varnet", InfoValue(lines[0], "gamedir"));
  EXPECT_NE("<none>", InfoValue(lines[0], "version"));
  EXPECT_NE("<none>", InfoValue(lines[0], "fraglimit"));
  EXPECT_EQ("7 45 \"Ann Lee\"", lines[1]);
  EXPECT_EQ("-2 130 \"Bo\"", lines[2]);
  EXPECT_EQ("", lines[3]);
}

TEST(LabStatusReply, NoAnswerAndEmptyModes) {
  EXPECT_FALSE(ServerAnswers(ServerFrom("port=1,mode=silent")));
  EXPECT_FALSE(ServerAnswers(ServerFrom("port=1,mode=closed")));
  EXPECT_TRUE(ServerAnswers(ServerFrom("port=1,mode=empty")));
  EXPECT_EQ("", ReplyOf("port=1,mode=empty,players=A/1/1"));
}

// A heartbeat carries the status text a master's check would get, even from a server that
// never answers; the mod is named as gamedir, which is what a master checks.
TEST(LabHeartbeat, StatusTextOfModeNormal) {
  const std::string header = "\xff\xff\xff\xffheartbeat\n";
  std::string heartbeat;
  BuildHeartbeat(ServerFrom("port=1,host=Quiet,mode=silent,game=ctf,players=Ann/3/40"), &heartbeat);
  ASSERT_EQ(0u, heartbeat.find(header));
  std::vector<std::string> lines = SplitAt(heartbeat.substr(header.size()), '\n');
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("Quiet", InfoValue(lines[0], "hostname"));
  EXPECT_EQ("ctf", InfoValue(lines[0], "gamedir"));
  EXPECT_EQ("3 40 \"Ann\"", lines[1]);
  EXPECT_EQ(ReplyOf("port=1,host=Quiet,game=ctf,players=Ann/3/40").substr(REPLY_HEADER.size()),
            heartbeat.substr(header.size()));
  EXPECT_TRUE(
      IsAck("\xff\xff\xff\xff"
            "ack",
            7));
  EXPECT_FALSE(
      IsAck("\xff\xff\xff\xff"
            "ac",
            6));
}

TEST(LabStatusReply, GarbageIsDeterministicPerPort) {
  std::string first = ReplyOf("port=27910,mode=garbage");
  EXPECT_EQ(first, ReplyOf("port=27910,mode=garbage,host=Other"));
  EXPECT_NE(first, ReplyOf("port=27911,mode=garbage"));
  EXPECT_GE(first.size(), 200u);
  EXPECT_LT(first.size(), 500u);
  EXPECT_NE(0u, first.find(REPLY_HEADER));
}

TEST(LabStatusReply, OversizeIsWellFormedAndExact) {
  std::string reply = ReplyOf("port=27910,host=Big,mode=oversize,players=Ann/1/20");
  EXPECT_EQ((size_t)OVERSIZE_REPLY_SIZE, reply.size());
  std::vector<std::string> lines = SplitAt(reply.substr(REPLY_HEADER.size()), '\n');
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("Big", InfoValue(lines[0], "hostname"));
  EXPECT_EQ("1 20 \"Ann\"", lines[1]);
}

TEST(LabStatusReply, HostileSizes) {
  std::vector<std::string> many =
      SplitAt(ReplyOf("port=27910,mode=manyplayers").substr(REPLY_HEADER.size()), '\n');
  EXPECT_EQ((size_t)MANY_PLAYER_COUNT + 2, many.size());
  EXPECT_EQ('"', many[MANY_PLAYER_COUNT][many[MANY_PLAYER_COUNT].size() - 1]);

  std::string info =
      SplitAt(ReplyOf("port=27910,host=Wide,mode=longhost").substr(REPLY_HEADER.size()), '\n')[0];
  EXPECT_EQ((size_t)LONG_HOST_SIZE, InfoValue(info, "hostname").size());
  EXPECT_EQ(0u, InfoValue(info, "hostname").find("Wide Wide"));
}

TEST(LabStatusReply, LongNamesHoldQuotesAndSpaces) {
  std::vector<std::string> lines =
      SplitAt(ReplyOf("port=27910,mode=longnames").substr(REPLY_HEADER.size()), '\n');
  ASSERT_EQ((size_t)LONG_NAME_COUNT + 2, lines.size());
  for (int i = 1; i <= LONG_NAME_COUNT; i++) {
    SCOPED_TRACE(lines[i]);
    size_t open = lines[i].find('"');
    ASSERT_NE(std::string::npos, open);
    std::string name = lines[i].substr(open + 1, lines[i].size() - open - 2);
    EXPECT_EQ((size_t)LONG_NAME_SIZE, name.size());
    EXPECT_NE(std::string::npos, name.find('"'));
    EXPECT_NE(std::string::npos, name.find(' '));
  }
}

TEST(LabStatusReply, NulInsideInfoAndPlayerLines) {
  std::string reply = ReplyOf("port=27910,host=Alpha,mode=nul");
  std::vector<std::string> lines = SplitAt(reply.substr(REPLY_HEADER.size()), '\n');
  ASSERT_EQ(4u, lines.size());  // two stand-in players when none are configured
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    EXPECT_NE(std::string::npos, lines[i].find('\0'));
  }
  EXPECT_EQ(std::string("Al\0pha", 6), InfoValue(lines[0], "hostname"));
}

TEST(LabStatusReply, LineEndingModes) {
  std::string normal = ReplyOf("port=27910,players=A/1/2;B/3/4");
  std::string noLf = ReplyOf("port=27910,players=A/1/2;B/3/4,mode=nolf");
  std::string crOnly = ReplyOf("port=27910,players=A/1/2;B/3/4,mode=cronly");
  EXPECT_EQ(std::string::npos, noLf.find('\n'));
  EXPECT_EQ(std::string::npos, crOnly.find('\n'));
  size_t lineFeeds = 0, carriageReturns = 0;
  for (char c : normal) lineFeeds += c == '\n';
  for (char c : crOnly) carriageReturns += c == '\r';
  EXPECT_EQ(4u, lineFeeds);
  EXPECT_EQ(lineFeeds, carriageReturns);
  EXPECT_EQ(normal.size() - lineFeeds, noLf.size());
}

TEST(LabMasterList, ConfigOrderAndMangling) {
  std::vector<LabServer> servers;
  servers.push_back(ServerFrom("port=27912"));
  servers.push_back(ServerFrom("port=27910,mode=closed"));
  std::string body;
  BuildMasterList(servers, &body);
  EXPECT_EQ("127.0.0.1:27912\n127.0.0.1:27910\n", body);
  std::string bom = body;
  MangleMasterList(MASTER_BOM, &bom);
  EXPECT_EQ("\xef\xbb\xbf" + body, bom);
  std::string nul = body;
  MangleMasterList(MASTER_NUL, &nul);
  EXPECT_EQ(std::string("127.0.0\0.1:27912\n127.0.0\0.1:27910\n", 34), nul);
  std::string list = body;
  MangleMasterList(MASTER_LIST, &list);
  EXPECT_EQ(body, list);
}

std::string SizedList(uint64_t total) {
  std::string body(total, '?');
  if (total > 0) FillSizedList(total, 0, &body[0], total);
  return body;
}

TEST(LabSizedList, ExactSizeAndValidLines) {
  const uint64_t sizes[] = {17, 18, 33, 34, 51, 1000, 17 * 37626 + 20};
  for (uint64_t total : sizes) {
    SCOPED_TRACE(total);
    std::string body = SizedList(total);
    ASSERT_EQ(total, body.size());
    std::vector<std::string> lines = SplitAt(body, '\n');
    ASSERT_EQ("", lines.back());
    lines.pop_back();
    for (size_t i = 0; i < lines.size(); i++) {
      std::string line = lines[i];
      ASSERT_EQ('\r', line[line.size() - 1]);
      line.erase(line.find_last_not_of(" \r") + 1);
      char expected[32];
      snprintf(expected, sizeof(expected), "127.0.0.1:%d", (int)(27910 + i % 37626));
      ASSERT_EQ(expected, line);
    }
  }
  EXPECT_EQ("127.0", SizedList(5));
}

TEST(LabSizedList, ChunksMatchWhole) {
  const uint64_t total = 5000;
  std::string whole = SizedList(total);
  std::string pieces;
  for (uint64_t offset = 0; offset < total; offset += 333) {
    char chunk[333];
    size_t length = total - offset < 333 ? (size_t)(total - offset) : 333;
    FillSizedList(total, offset, chunk, length);
    pieces.append(chunk, length);
  }
  EXPECT_EQ(whole, pieces);
}

TEST(LabHttpText, HeaderAndErrorPage) {
  std::string header;
  BuildHttpHeader(200, "text/plain", 1234, &header);
  EXPECT_EQ(0u, header.find("HTTP/1.1 200 OK\r\n"));
  EXPECT_NE(std::string::npos, header.find("\r\nContent-Length: 1234\r\n"));
  EXPECT_NE(std::string::npos, header.find("\r\nContent-Type: text/plain\r\n"));
  EXPECT_NE(std::string::npos, header.find("\r\nConnection: close\r\n"));
  EXPECT_EQ(header.size() - 4, header.find("\r\n\r\n"));
  std::string page;
  BuildErrorPage(404, &page);
  EXPECT_EQ(0u, page.find("<html>"));
  EXPECT_NE(std::string::npos, page.find("Not Found"));
}

TEST(LabHttpRequest, HeadersAndIncompleteOrBadHeads) {
  const char text[] =
      "GET /servers.txt HTTP/1.1\r\nuser-agent: Varnet Server Browser\r\n"
      "Cache-Control:  no-cache \r\nPRAGMA: no-cache\r\nIf-None-Match: \"x\"\r\n\r\n";
  HttpRequest request;
  ASSERT_EQ(1, ParseHttpRequest(text, strlen(text), &request));
  EXPECT_EQ("GET", request.method);
  EXPECT_EQ("/servers.txt", request.path);
  EXPECT_EQ("Varnet Server Browser", request.userAgent);
  EXPECT_EQ("no-cache", request.cacheControl);
  EXPECT_EQ("no-cache", request.pragma);
  EXPECT_EQ("\"x\"", request.ifNoneMatch);
  EXPECT_EQ("", request.ifModifiedSince);
  EXPECT_EQ(0, ParseHttpRequest(text, strlen(text) - 2, &request));
  const char bare[] = "GET /a HTTP/1.0\nHost: x\n\n";
  ASSERT_EQ(1, ParseHttpRequest(bare, strlen(bare), &request));
  EXPECT_EQ("/a", request.path);
  const char bad[] = "GARBAGE\r\n\r\n";
  EXPECT_EQ(-1, ParseHttpRequest(bad, strlen(bad), &request));
}

TEST(LabLog, EscapesAndCuts) {
  EXPECT_EQ("\\xff\\x00a\\\"\\\\", EscapeForLog("\xff\0a\"\\", 5, 64));
  EXPECT_EQ("abc...", EscapeForLog("abcdef", 6, 3));
}

}  // namespace
