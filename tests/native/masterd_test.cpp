// The master daemon's core: datagram parsing, the list's rules on a fake clock, its outputs, the options.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "masterd.h"
#include "query/reply.h"

namespace {

// clang-format off
// A yquake2 server's heartbeat as it goes out on setmaster: the status text after the command.
const std::string kYquake2Heartbeat = std::string(
    "\xff\xff\xff\xff"                // connectionless marker
    "heartbeat\n")                    // the command and its line feed
    + "\\cheats\\0\\deathmatch\\1"    // serverinfo, keys sorted as the server keeps them
    "\\dmflags\\16\\fraglimit\\0"
    "\\game\\varnet"                  // the mod as game
    "\\gamedir\\varnet"               // and as gamedir
    "\\hostname\\Frag Central\\mapname\\q2dm1\\maxclients\\16\\protocol\\34\\timelimit\\20"
    "\\version\\8.20 x86_64 Jan  1 2026 Linux\n"  // end of the serverinfo line
    "12 45 \"Big Mike\"\n"            // frags ping "name", one line per player
    "3 80 \"Ann\"\n";
// q2pro's carries its port, and here a mod of another name.
const std::string kQ2proOtherHeartbeat = std::string("\xff\xff\xff\xff" "heartbeat\n")
    + "\\game\\ctf\\gamedir\\ctf\\hostname\\CTF\\mapname\\q2ctf1\\maxclients\\8\\port\\27910\n";
const std::string kShutdown = "\xff\xff\xff\xff" "shutdown";   // 12 bytes, nothing after
const std::string kPing = "\xff\xff\xff\xff" "ping";           // yquake2, before its first heartbeat
const std::string kQuery = std::string("query\n\0", 7);         // QStat -q2m: no marker, a NUL
// The answer to our status query: print, the serverinfo line, the players.
const std::string kStatusReply = std::string("\xff\xff\xff\xff" "print\n")
    + "\\game\\varnet\\gamedir\\varnet\\hostname\\Frag Central\\mapname\\q2dm1\n"
    "12 45 \"Big Mike\"\n";
const std::string kOtherGameReply = std::string("\xff\xff\xff\xff" "print\n")
    + "\\gamedir\\baseq2\\hostname\\Frag Central\n";
// clang-format on

const uint32_t kServerIp = 0xCB007107;  // 203.0.113.7
const uint16_t kServerPort = 27910;

TEST(MasterdDatagram, KindsOfTheRealDatagrams) {
  struct Case {
    std::string bytes;
    DatagramKind kind;
  } cases[] = {
      {kYquake2Heartbeat, DATAGRAM_HEARTBEAT},
      {kQ2proOtherHeartbeat, DATAGRAM_HEARTBEAT},
      {kShutdown, DATAGRAM_SHUTDOWN},
      {kShutdown + "\n", DATAGRAM_SHUTDOWN},
      {kPing, DATAGRAM_PING},
      {kQuery, DATAGRAM_QUERY},
      {"query", DATAGRAM_QUERY},
      {"\xff\xff\xff\xffquery\n", DATAGRAM_QUERY},
      {kStatusReply, DATAGRAM_STATUS},
      {"", DATAGRAM_UNKNOWN},
      {"\xff\xff\xff", DATAGRAM_UNKNOWN},               // the marker cut short
      {"\xff\xff\xff\xffheartbeat", DATAGRAM_UNKNOWN},  // no line feed after the command
      {"\xff\xff\xff\xffpingpong", DATAGRAM_UNKNOWN},   // another command that starts alike
      {"\xff\xff\xff\xff"
       "ack",
       DATAGRAM_UNKNOWN},  // our own answer, reflected
      {"querying\n", DATAGRAM_UNKNOWN},
      {"\xff\xff\xff\xffprint", DATAGRAM_UNKNOWN},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(c.kind, ClassifyDatagram(c.bytes.data(), (int32_t)c.bytes.size()));
  }
  EXPECT_EQ(12u, kShutdown.size());
  EXPECT_EQ(7u, kQuery.size());
}

TEST(MasterdDatagram, GameNamedByGamedirOrGamePairByPair) {
  struct Case {
    std::string info;
    GameVerdict verdict;
  } cases[] = {
      {"\\gamedir\\varnet\\hostname\\A\n", GAME_MATCH},
      {"\\game\\varnet\n", GAME_MATCH},
      {"\\gamedir\\baseq2\\game\\VARNET", GAME_MATCH},  // either name will do, in any case
      {"\\gamedir\\baseq2\\game\\ctf", GAME_OTHER},
      {"\\hostname\\gamedir\\varnet\\x", GAME_UNNAMED},  // a value that spells a key is a value
      {"\\gamedir\\varnetx", GAME_OTHER},
      {"\\gamedir\\varn", GAME_OTHER},                       // cut inside the value
      {"\\hostname\\A\\gamedir", GAME_UNNAMED},              // a key without its value
      {std::string("\\gamedir\\var\0net", 16), GAME_OTHER},  // a NUL ends the line
      {"\\hostname\\A\n\\gamedir\\varnet", GAME_UNNAMED},    // only the first line is serverinfo
      {"", GAME_UNNAMED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.info);
    std::string bytes =
        "\xff\xff\xff\xff"
        "print\n" +
        c.info;
    EXPECT_EQ(c.verdict, StatusNamesGame(bytes.data(), (int32_t)bytes.size(), 10, "varnet"));
  }
  // The length is the only bound: the same bytes cut before the value's end name another game.
  std::string bytes = kStatusReply;
  EXPECT_EQ(GAME_OTHER, StatusNamesGame(bytes.data(), 10 + 10, 10, "varnet"));
}

TEST(MasterdDatagram, AddressesAndPrivateRanges) {
  uint32_t ip = 0;
  uint16_t port = 0;
  EXPECT_TRUE(ParseAddress("203.0.113.7:27910", 17, &ip, &port));
  EXPECT_EQ(kServerIp, ip);
  EXPECT_EQ(27910, port);
  const char *bad[] = {"256.0.0.1:1",   "1.2.3:4",    "1.2.3.4",    "1.2.3.4:",       "1.2.3.4:0",
                       "1.2.3.4:65536", "1.2.3.4:5x", " 1.2.3.4:5", "1.2.3.4:000005", "1..3.4:5"};
  for (const char *text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseAddress(text, strlen(text), &ip, &port));
  }
  uint32_t refused[] = {0x7F000001, 0x0A000001, 0xAC100001, 0xAC1FFFFF, 0xC0A80101,
                        0xA9FE0001, 0x64400001, 0x00000000, 0xE0000001, 0xFFFFFFFF};
  for (uint32_t address : refused) EXPECT_TRUE(IsPrivateAddress(address)) << std::hex << address;
  uint32_t heard[] = {kServerIp, 0xAC200001, 0xAC0F0001, 0x08080808, 0x64800001};
  for (uint32_t address : heard) EXPECT_FALSE(IsPrivateAddress(address)) << std::hex << address;
}

TEST(MasterdOptions, DefaultsAndRefusals) {
  MasterOptions options;
  char message[4096];
  char name[] = "varnet-master";
  char *none[] = {name};
  ASSERT_EQ(0, ParseOptions(1, none, &options, message, sizeof message));
  EXPECT_EQ(27900, options.udpPort);
  EXPECT_EQ(27900, options.httpPort);
  EXPECT_EQ(900, options.expireSeconds);
  EXPECT_EQ(64, options.maxListed);
  EXPECT_STREQ("varnet", options.game);
  std::vector<std::string> good = {"--http", "0", "--udp", "any", "--max", "3", "--allow-private"};
  std::vector<char *> argv = {name};
  for (std::string &arg : good) argv.push_back(&arg[0]);
  ASSERT_EQ(0, ParseOptions((int)argv.size(), argv.data(), &options, message, sizeof message));
  EXPECT_EQ(0, options.httpPort);  // off
  EXPECT_EQ(0, options.udpPort);   // any free port
  EXPECT_EQ(3, options.maxListed);
  EXPECT_TRUE(options.allowPrivate);
  std::vector<std::vector<std::string>> bad = {
      {"--max", "0"}, {"--max", "-1"}, {"--udp", "65536"}, {"--expire", "9x"},      {"--expire"},
      {"--bogus"},    {"--game", ""},  {"--http", " 80"},  {"--udp", "99999999999"}};
  for (std::vector<std::string> &args : bad) {
    SCOPED_TRACE(args[0]);
    argv = {name};
    for (std::string &arg : args) argv.push_back(&arg[0]);
    EXPECT_EQ(2, ParseOptions((int)argv.size(), argv.data(), &options, message, sizeof message));
    EXPECT_NE(nullptr, strstr(message, args[0].c_str())) << message;
  }
  std::string help = "--help";
  argv = {name, &help[0]};
  EXPECT_EQ(1, ParseOptions(2, argv.data(), &options, message, sizeof message));
  EXPECT_NE(nullptr, strstr(message, "--max-per-ip N")) << message;
}

struct Sent {
  uint32_t ip;
  uint16_t port;
  std::string bytes;
};
std::vector<Sent> sent;
std::vector<std::string> logs;

void CaptureSend(uint32_t ip, uint16_t port, const char *data, int32_t length) {
  sent.push_back({ip, port, std::string(data, (size_t)length)});
}
void CaptureLog(const char *text) { logs.push_back(text); }

class MasterdRules : public ::testing::Test {
 protected:
  void SetUp() override { DefaultOptions(&options); }
  void TearDown() override { StopMasterList(); }
  void Start() {
    ASSERT_TRUE(StartMasterList(&options, 0x5EED));
    SendDatagram = CaptureSend;
    LogLine = CaptureLog;
    sent.clear();
    logs.clear();
  }
  void Deliver(uint32_t ip, uint16_t port, const std::string &bytes) {
    HandleDatagram(ip, port, bytes.data(), (int32_t)bytes.size(), now);
  }
  // The clock moves on one tick at a time, as the daemon's loop runs the rules.
  void Advance(uint64_t ms) {
    for (uint64_t end = now + ms; now < end;) {
      now += end - now < (uint64_t)TICK_MS ? end - now : (uint64_t)TICK_MS;
      RunMasterRules(now);
    }
  }
  size_t QueriesTo(uint32_t ip, uint16_t port) {
    size_t count = 0;
    for (const Sent &s : sent) {
      count += s.ip == ip && s.port == port && s.bytes == std::string(STATUS_QUERY, STATUS_QUERY_SIZE);
    }
    return count;
  }
  void Register(uint32_t ip, uint16_t port) {
    Deliver(ip, port, kYquake2Heartbeat);
    Deliver(ip, port, kStatusReply);
  }
  std::string Servers() {
    std::vector<char> text((size_t)ServersTextSize());
    return std::string(text.data(), (size_t)BuildServersText(text.data(), ServersTextSize()));
  }
  MasterOptions options;
  uint64_t now = 5000;
};

TEST_F(MasterdRules, ListedOnlyAfterAnAnswerFromExactlyThatAddress) {
  Start();
  Deliver(kServerIp, kServerPort, kYquake2Heartbeat);
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(1u, QueriesTo(kServerIp, kServerPort));  // the 11-byte status request, to that port
  EXPECT_EQ("", Servers());
  Deliver(kServerIp, kServerPort + 1, kStatusReply);  // another port of the same host
  Deliver(kServerIp + 1, kServerPort, kStatusReply);  // the same port of another host
  EXPECT_EQ("", Servers());
  Deliver(kServerIp, kServerPort, kStatusReply);
  EXPECT_EQ("203.0.113.7:27910\n", Servers());
  EXPECT_TRUE(listChanged);
  ASSERT_EQ(1u, logs.size());
  EXPECT_EQ("registered 203.0.113.7:27910 \"Frag Central\" (1 listed)", logs[0]);
}

TEST_F(MasterdRules, AnotherGameOrSilenceIsNeverListed) {
  Start();
  Deliver(kServerIp, kServerPort, kQ2proOtherHeartbeat);
  EXPECT_TRUE(sent.empty());  // its heartbeat already says it is not ours: not even a query
  Deliver(kServerIp, kServerPort, kYquake2Heartbeat);
  Deliver(kServerIp, kServerPort, kOtherGameReply);  // the heartbeat lied, the reply does not
  EXPECT_EQ("", Servers());
  EXPECT_EQ(0, candidateCount);
  Deliver(kServerIp, kServerPort + 1, kYquake2Heartbeat);
  Advance(QUERY_ATTEMPTS * QUERY_TIMEOUT_MS + TICK_MS);
  EXPECT_EQ((size_t)QUERY_ATTEMPTS, QueriesTo(kServerIp, kServerPort + 1));
  EXPECT_EQ(0, candidateCount);
  Deliver(kServerIp, kServerPort + 1, kStatusReply);  // too late: nothing asked for it any more
  EXPECT_EQ("", Servers());
  EXPECT_EQ("verification failed 203.0.113.7:27911: no answer", logs.back());
}

TEST_F(MasterdRules, ExpiryAndRecheck) {
  Start();
  Register(kServerIp, kServerPort);
  sent.clear();
  Advance(60000);
  Deliver(kServerIp, kServerPort, kYquake2Heartbeat);
  EXPECT_TRUE(sent.empty());  // answered a minute ago: no new query
  Advance((uint64_t)options.recheckSeconds * 1000);
  Deliver(kServerIp, kServerPort, kYquake2Heartbeat);
  EXPECT_EQ(1u, QueriesTo(kServerIp, kServerPort));
  Deliver(kServerIp, kServerPort, kStatusReply);
  Advance((uint64_t)options.expireSeconds * 1000);
  EXPECT_EQ("203.0.113.7:27910\n", Servers());  // exactly the expiry: still listed
  Advance(TICK_MS);
  EXPECT_EQ("", Servers());
  EXPECT_EQ("expired 203.0.113.7:27910", logs.back());
}

TEST_F(MasterdRules, AnExpiryShorterThanTheRecheckKeepsAHeartbeatingServer) {
  options.expireSeconds = 8;
  Start();
  Register(kServerIp, kServerPort);
  sent.clear();
  for (int second = 0; second < 30; second++) {
    Advance(1000);
    Deliver(kServerIp, kServerPort, kYquake2Heartbeat);
    if (QueriesTo(kServerIp, kServerPort) > 0) Deliver(kServerIp, kServerPort, kStatusReply);
    sent.clear();
  }
  EXPECT_EQ("203.0.113.7:27910\n", Servers());
  EXPECT_EQ(1u, logs.size());  // its registration; never expired and registered again
}

TEST_F(MasterdRules, ForgedShutdownKeepsALiveServer) {
  Start();
  Register(kServerIp, kServerPort);
  sent.clear();
  Deliver(kServerIp, kServerPort, kShutdown);
  EXPECT_EQ(1u, QueriesTo(kServerIp, kServerPort));
  Deliver(kServerIp, kServerPort, kStatusReply);
  Advance(QUERY_ATTEMPTS * QUERY_TIMEOUT_MS + TICK_MS);
  EXPECT_EQ("203.0.113.7:27910\n", Servers());
  EXPECT_EQ("shutdown ignored 203.0.113.7:27910: it still answers", logs.back());
  Deliver(kServerIp, kServerPort, kShutdown);  // now it has really gone
  Advance(QUERY_ATTEMPTS * QUERY_TIMEOUT_MS + TICK_MS);
  EXPECT_EQ("", Servers());
  EXPECT_EQ("shutdown 203.0.113.7:27910", logs.back());
}

TEST_F(MasterdRules, OrderIsFirstListedFirstAndMaxCutsTheTail) {
  options.maxListed = 2;
  Start();
  Register(kServerIp + 2, 27912);
  Register(kServerIp, 27910);
  Register(kServerIp + 1, 27911);
  EXPECT_EQ("203.0.113.9:27912\n203.0.113.7:27910\n", Servers());
  Advance(300000);
  for (uint32_t i = 0; i < 2; i++) Register(kServerIp + i, (uint16_t)(27910 + i));  // rechecked
  Advance((uint64_t)options.expireSeconds * 1000 - 200000);  // the first one's heartbeats stopped
  EXPECT_EQ("203.0.113.7:27910\n203.0.113.8:27911\n", Servers());
  char reply[DATAGRAM_SIZE];
  ASSERT_EQ(1, QueryReplyCount());
  // clang-format off
  const std::string expected = std::string("\xff\xff\xff\xff" "servers ")   // marker and command
      + std::string("\xCB\x00\x71\x07" "\x6D\x06", 6)                      // 203.0.113.7, port 27910
      + std::string("\xCB\x00\x71\x08" "\x6D\x07", 6);                     // 203.0.113.8, port 27911
  // clang-format on
  EXPECT_EQ(expected, std::string(reply, (size_t)BuildQueryReply(0, reply, sizeof reply)));
}

TEST_F(MasterdRules, QueryRepliesSplitAt1400Bytes) {
  options.maxListed = 300;
  options.maxPerIp = 300;
  options.burstPerIp = options.ratePerIp = options.verifyRate = 1000;
  Start();
  char reply[DATAGRAM_SIZE];
  EXPECT_EQ(1, QueryReplyCount());  // an empty list still gets its header
  EXPECT_EQ(12, BuildQueryReply(0, reply, sizeof reply));
  for (uint16_t port = 1; port <= 300; port++) Register(kServerIp, port);
  sent.clear();
  Deliver(0x08080808, 5000, kQuery);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(12u + 231 * 6, sent[0].bytes.size());  // as many entries as fit 1,400 bytes
  EXPECT_EQ(12u + 69 * 6, sent[1].bytes.size());
  EXPECT_EQ(0, sent[1].bytes.compare(0, 12, "\xff\xff\xff\xffservers "));
  EXPECT_EQ(std::string("\x00\xE8", 2), sent[1].bytes.substr(16, 2));  // the 232nd server: port 232
}

TEST_F(MasterdRules, LimitsHoldUnderAForgedFlood) {
  options.maxCandidates = 50;
  options.verifyRate = 10;
  Start();
  for (uint32_t i = 0; i < 5000; i++) Deliver(0x0B000000 + i * 7, (uint16_t)(1024 + i), kYquake2Heartbeat);
  EXPECT_EQ(50, candidateCount);
  EXPECT_EQ(10u, sent.size());  // the verification budget's burst, no more
  Advance(1000);
  EXPECT_LE(sent.size(), 10u + 10 + 10);  // a second's budget, and the first ten's retries
  Advance(CANDIDATE_WAIT_MS + QUERY_ATTEMPTS * QUERY_TIMEOUT_MS);
  EXPECT_EQ(0, candidateCount);
  EXPECT_EQ(0, listedCount);
  // One address: 16 servers at most, and a burst of 40 datagrams, then 4 a second.
  for (uint16_t port = 1; port <= 20; port++) Deliver(kServerIp, port, kYquake2Heartbeat);
  EXPECT_EQ(16, candidateCount);
  sent.clear();
  for (int i = 0; i < 30; i++) Deliver(kServerIp, 1, kPing);
  EXPECT_EQ(20u, sent.size());  // 40 less the 20 heartbeats
  EXPECT_EQ(
      "\xff\xff\xff\xff"
      "ack",
      sent[0].bytes);
  Advance(1000);
  sent.clear();
  for (int i = 0; i < 10; i++) Deliver(kServerIp, 1, kPing);
  EXPECT_EQ(4u, sent.size());
}

TEST_F(MasterdRules, PrivateSourcesOnlyWhenAllowed) {
  Start();
  Deliver(0x7F000001, kServerPort, kYquake2Heartbeat);
  Deliver(0xC0A80001, kServerPort, kPing);
  EXPECT_TRUE(sent.empty());
  StopMasterList();
  options.allowPrivate = true;
  Start();
  Register(0x7F000001, kServerPort);
  EXPECT_EQ("127.0.0.1:27910\n", Servers());
}

TEST_F(MasterdRules, StateCarriesTheListOverARestart) {
  Start();
  Register(kServerIp + 1, 27911);
  Register(kServerIp, 27910);
  Advance(100000);
  std::vector<char> state((size_t)StateTextSize());
  std::string text(state.data(), (size_t)BuildStateText(state.data(), StateTextSize(), now, 1800000000));
  // clang-format off
  EXPECT_EQ("varnet-master state 1\n"      // header
            "203.0.113.8:27911 1 1799999900\n"  // address, place in the list, second of the last heartbeat
            "203.0.113.7:27910 2 1799999900\n", text);
  // clang-format on
  text += "garbage\n203.0.113.8:27911 9 1799999999\n203.0.113.5:1 3 1799999500\n203.0.113.6:2 4 1";
  StopMasterList();
  Start();
  EXPECT_EQ(3, LoadStateText(text.data(), (int32_t)text.size(), now, 1800000000));
  EXPECT_EQ("203.0.113.8:27911\n203.0.113.7:27910\n203.0.113.5:1\n", Servers());  // listed at once
  RunMasterRules(now);
  EXPECT_EQ(3u, sent.size());  // and each checked
  Deliver(kServerIp + 1, 27911, kStatusReply);
  Deliver(kServerIp, 27910, kStatusReply);
  Advance(QUERY_ATTEMPTS * QUERY_TIMEOUT_MS + TICK_MS);
  EXPECT_EQ("203.0.113.8:27911\n203.0.113.7:27910\n", Servers());
  EXPECT_EQ("dropped 203.0.113.5:1: no answer after the restart", logs.back());
  Advance((uint64_t)options.expireSeconds * 1000 - 100000);  // the answer counted as a heartbeat
  EXPECT_EQ(2, listedCount);
  Register(kServerIp + 3, 1);
  EXPECT_EQ("203.0.113.8:27911\n203.0.113.7:27910\n203.0.113.10:1\n", Servers());  // after the loaded ones
}

}  // namespace
